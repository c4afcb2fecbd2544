#include "collect/LogTable.h"

#include "platform/Clock.h"
#include "store/DataSet.h"

void appendLogRow(TTable& tLog, const QString& archivo, std::optional<int> nroRegAsist) {
    tLog.Open();
    try {
        tLog.Append();
        tLog.FieldByName(QStringLiteral("Fecha")).setAsDateTime(Date());
        tLog.FieldByName(QStringLiteral("Hora")).setAsDateTime(Time());
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
