#include "windows/upConsulta1.h"

TfpConsulta1::TfpConsulta1(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("fpConsulta1"));
}
