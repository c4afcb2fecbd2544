#include "windows/uCeco.h"

TfCeco::TfCeco(QWidget* parent)
    : TTableEditor(parent, QStringLiteral("fCeco"), QStringLiteral("Centros de costo"), {650, 493},
                   QStringLiteral("ceco.DBF")) {
    // A cost centre without its number would reach the points as number 0.
    Table1.RequiredFields = {QStringLiteral("CECO")};
}
