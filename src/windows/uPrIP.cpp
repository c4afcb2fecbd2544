#include "windows/uPrIP.h"

TfPrIP::TfPrIP(QWidget* parent)
    : TTableEditor(parent, QStringLiteral("fPrIP"), QStringLiteral("Puntos de registro IP"),
                   {506, 493}, QStringLiteral("confRegIP.db")) {}
