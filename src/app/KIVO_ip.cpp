// Program start: one instance, the application title, the windows in their
// order, the event loop.
#include "app/StationStart.h"
#include "platform/SingleInstance.h"
#include "ui/Application.h"
#include "station/uPrincipal.h"

int main(int argc, char** argv) {
    SingleInstance instance(QStringLiteral("MyAppName"));
    if (!instance.acquire())
        return 0; // another instance runs: end silently

    KivoApplication app(argc, argv);
    setApplicationIdentity();

    TfPrincipal* fPrincipal = createStationWindows();
    fPrincipal->show();
    const int result = QApplication::exec();
    delete fPrincipal;
    return result;
}
