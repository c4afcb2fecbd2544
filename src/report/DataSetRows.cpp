#include "report/DataSetRows.h"

#include "store/DataSet.h"

int ReportRows::fieldIndex(const QString& name) const {
    for (int index = 0; index < fieldNames.size(); ++index)
        if (fieldNames[index].compare(name, Qt::CaseInsensitive) == 0)
            return index;
    throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
}

ReportRows rowsOf(TDataSet& dataSet) {
    ReportRows result;
    const int columns = dataSet.FieldCount();
    for (int column = 0; column < columns; ++column)
        result.fieldNames << dataSet.Fields(column).FieldName();
    result.rows.reserve(size_t(dataSet.RecordCount()));
    for (dataSet.First(); !dataSet.Eof(); dataSet.Next()) {
        QStringList row;
        row.reserve(columns);
        for (int column = 0; column < columns; ++column)
            row << dataSet.Fields(column).AsString();
        result.rows.push_back(std::move(row));
    }
    return result;
}
