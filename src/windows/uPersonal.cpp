#include "windows/uPersonal.h"

TfPersonal::TfPersonal(QWidget* parent)
    : TTableEditor(parent, QStringLiteral("fPersonal"), QStringLiteral("Personal"), {650, 493},
                   QStringLiteral("personal.DBF")) {}
