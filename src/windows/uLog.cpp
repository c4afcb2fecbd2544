#include "windows/uLog.h"

TfLog::TfLog(QWidget* parent)
    : TSecondaryWindow(parent, QStringLiteral("fLog"), QStringLiteral("Registro de operaciones"),
                       {685, 445}) {
    Table1.TableName = QStringLiteral("log.DB");
}
