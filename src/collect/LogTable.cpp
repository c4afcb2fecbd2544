#include "collect/LogTable.h"

#include "store/DataSet.h"

void appendLogRow(TTable& tLog, const QString& archivo, std::optional<int> nroRegAsist,
                  TDateTime at) {
    tLog.Open();
    try {
        tLog.Append();
        tLog.FieldByName(QStringLiteral("Fecha")).setAsDateTime(dateOf(at));
        tLog.FieldByName(QStringLiteral("Hora")).setAsDateTime(timeOf(at));
        tLog.FieldByName(QStringLiteral("Archivo")).setAsString(archivo);
        if (nroRegAsist)
            tLog.FieldByName(QStringLiteral("NroRegAsist")).setAsInteger(*nroRegAsist);
        tLog.Post();
    } catch (...) {
        tLog.Close();
        throw;
    }
    tLog.Close();
}
