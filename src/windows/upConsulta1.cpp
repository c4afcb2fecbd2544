#include "windows/upConsulta1.h"

TfpConsulta1::TfpConsulta1(QObject* parent) : QObject(parent), Report1(ticketReportDefinition()) {
    setObjectName(QStringLiteral("fpConsulta1"));
}
