#include "windows/uCeco.h"

TfCeco::TfCeco(QWidget* parent)
    : TTableEditor(parent, QStringLiteral("fCeco"), QStringLiteral("Centros de costo"), {650, 493},
                   QStringLiteral("ceco.DBF")) {}
