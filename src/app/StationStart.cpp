#include "app/StationStart.h"

#include "station/uPrincipal.h"
#include "windows/UAboutBox.h"
#include "windows/uCeco.h"
#include "windows/uLog.h"
#include "windows/uPersonal.h"
#include "windows/uPrIP.h"
#include "windows/uRegAsist.h"
#include "windows/upConsulta1.h"

#include <QCoreApplication>

void setApplicationIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("kivo-ip"));
}

TfPrincipal* createStationWindows(StationMode mode) {
    auto* fPrincipal = new TfPrincipal(nullptr, mode);
    TSecondaryWindows windows;
    windows.fLog = new TfLog(fPrincipal);
    windows.fRegAsist = new TfRegAsist(fPrincipal);
    windows.FAboutBox = new TFAboutBox(fPrincipal);
    windows.fPrIP = new TfPrIP(fPrincipal);
    windows.fCeco = new TfCeco(fPrincipal);
    windows.fPersonal = new TfPersonal(fPrincipal);
    windows.fpConsulta1 = new TfpConsulta1(fPrincipal);
    windows.fRegAsist->fpConsulta1 = windows.fpConsulta1;
    fPrincipal->setSecondaryWindows(windows);
    return fPrincipal;
}
