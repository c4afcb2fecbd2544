#include "report/TicketExport.h"

#include "platform/Regional.h"
#include "report/RowGroups.h"
#include "report/SeparatedValues.h"
#include "report/TicketReport.h"
#include "report/Workbook.h"
#include "store/DataSet.h"
#include "store/Schema.h"

namespace {

constexpr int kExportedColumns = 9;

const QStringList kHeadings = {"Origen", "Legajo", "Nombres", "Fecha", "Importe",
                               "Cuenta", "CECO",   "Tarjeta", "Ticket"};

const QString kReportLine = QStringLiteral("REPORTE CONTROL TAXIS");

// "dd/mm/yyyy", each slash the system's date separator.
QString exportDate(const QDate& date) {
    return formatDateTimePicture(QStringLiteral("dd/MM/yyyy"), toDateTime(date));
}

QStringList rowTexts(TDataSet& rows) {
    QStringList values;
    for (int column = 0; column < kExportedColumns; ++column)
        values << rows.Fields(column).AsString();
    return values;
}

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// How a column's values go into the workbook besides text and plain numbers.
enum class ColumnKind { Plain, DateTime, Amount };

ColumnKind kindOf(const QString& fieldName) {
    if (isDateTimeColumn(fieldName))
        return ColumnKind::DateTime;
    return fieldName.compare(QLatin1String("IMPORTE"), Qt::CaseInsensitive) == 0
               ? ColumnKind::Amount
               : ColumnKind::Plain;
}

WorkbookCell cellOf(const TField& field, ColumnKind kind) {
    const QVariant value = field.Value();
    if (value.isNull())
        return {};
    if (kind == ColumnKind::DateTime)
        return WorkbookCell::ofDateTime(field.AsDateTime());
    // Stored as a double: 99.9 may come back as 99.90000000000001.
    if (kind == ColumnKind::Amount && isNumber(value))
        return WorkbookCell::ofCents(centsOf(field.AsFloat()));
    if (isNumber(value))
        return WorkbookCell::ofNumber(field.AsFloat());
    return WorkbookCell::ofText(field.AsString());
}

std::vector<WorkbookCell> textCells(const QStringList& texts) {
    std::vector<WorkbookCell> cells;
    for (const QString& text : texts)
        cells.push_back(WorkbookCell::ofText(text));
    return cells;
}

} // namespace

QStringList ticketRangeSql(const QDate& from, const QDate& to) {
    const QString d1 = from.toString(QStringLiteral("yyyyMMdd"));
    const QString d2 = to.toString(QStringLiteral("yyyyMMdd"));
    return {QStringLiteral("SELECT *"), QStringLiteral("FROM tickettaxis"),
            QStringLiteral("WHERE FECHA BETWEEN '") + d1 + QStringLiteral(" 00:00:00' AND '") + d2 +
                QStringLiteral(" 23:59:59'"),
            QStringLiteral("ORDER BY FECHA;")};
}

QStringList ticketExportLines(TDataSet& rows, const QDate& from, const QDate& to,
                              const QString& separator) {
    // The two title lines are not values and stay as they are; only the
    // heading and row lines end with the separator.
    QStringList lines{kCompanyLine, kReportLine,
                      QStringLiteral("DESDE") + separator +
                          quotedField(exportDate(from), separator),
                      QStringLiteral("HASTA") + separator + quotedField(exportDate(to), separator),
                      separatedLine(kHeadings, separator)};
    for (rows.First(); !rows.Eof(); rows.Next())
        lines << separatedLine(rowTexts(rows), separator);
    return lines;
}

void writeTicketExport(const QString& path, TDataSet& rows, const QDate& from, const QDate& to,
                       const QString& separator) {
    writeTextFile(path, ticketExportLines(rows, from, to, separator));
}

void writeTicketRows(TWorkbookWriter& workbook, TDataSet& rows, const QDate& from,
                     const QDate& to) {
    workbook.addRow({WorkbookCell::ofText(kCompanyLine)});
    workbook.addRow({WorkbookCell::ofText(kReportLine)});
    workbook.addRow({WorkbookCell::ofText(QStringLiteral("DESDE")),
                     WorkbookCell::ofDateTime(toDateTime(from))});
    workbook.addRow(
        {WorkbookCell::ofText(QStringLiteral("HASTA")), WorkbookCell::ofDateTime(toDateTime(to))});
    workbook.addRow(textCells(kHeadings));
    // Looked up once: the schema is searched by name.
    std::vector<ColumnKind> kinds;
    for (int column = 0; column < kExportedColumns; ++column)
        kinds.push_back(kindOf(rows.Fields(column).FieldName()));
    std::vector<WorkbookCell> cells(kExportedColumns);
    for (rows.First(); !rows.Eof(); rows.Next()) {
        for (int column = 0; column < kExportedColumns; ++column)
            cells[size_t(column)] = cellOf(rows.Fields(column), kinds[size_t(column)]);
        workbook.addRow(cells);
    }
}

void writeTicketWorkbook(const QString& path, TDataSet& rows, const QDate& from, const QDate& to) {
    TWorkbookWriter workbook(path, QStringLiteral("Reporte"));
    writeTicketRows(workbook, rows, from, to);
    workbook.commit();
}
