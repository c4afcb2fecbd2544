#include "windows/uPersonal.h"

#include "ui/DBGrid.h"

TfPersonal::TfPersonal(QWidget* parent)
    : TTableEditor(parent, QStringLiteral("fPersonal"), QStringLiteral("Personal"), {650, 493},
                   QStringLiteral("personal.DBF")) {
    // The names are text columns of 20 characters.
    DBGrid1->setMaxLength(QStringLiteral("NOMBRES"), 20);
    DBGrid1->setMaxLength(QStringLiteral("APELLIDOS"), 20);
    // A person without a code would reach the points as number 0.
    Table1.RequiredFields = {QStringLiteral("CODIGO")};
}
