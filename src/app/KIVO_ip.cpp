// Program start: one instance, the application title, the windows in their
// order, the event loop.
#include "platform/SingleInstance.h"
#include "platform/gui/Application.h"
#include "station/uPrincipal.h"
#include "windows/UAboutBox.h"
#include "windows/uCeco.h"
#include "windows/uLog.h"
#include "windows/uPersonal.h"
#include "windows/uPrIP.h"
#include "windows/uRegAsist.h"
#include "windows/upConsulta1.h"

int main(int argc, char** argv) {
    SingleInstance instance(QStringLiteral("MyAppName"));
    if (!instance.acquire())
        return 0; // another instance runs: end silently

    KivoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivo-ip"));
    QApplication::setApplicationDisplayName(kApplicationTitle);

    auto* fPrincipal = new TfPrincipal;
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

    fPrincipal->show();
    const int result = QApplication::exec();
    delete fPrincipal;
    return result;
}
