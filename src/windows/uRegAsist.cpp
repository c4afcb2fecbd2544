#include "windows/uRegAsist.h"

TfRegAsist::TfRegAsist(QWidget* parent)
    : TSecondaryWindow(parent, QStringLiteral("fRegAsist"),
                       QStringLiteral("Registros de asistencia"), {1076, 632}) {}
