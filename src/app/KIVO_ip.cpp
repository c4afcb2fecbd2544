// Program start: one instance, the application title, the windows in their
// order, the event loop.
#include "app/StationStart.h"
#include "platform/SingleInstance.h"
#include "station/uPrincipal.h"
#include "ui/Application.h"

#include <cstdio>

int main(int argc, char** argv) {
    SingleInstance instance(QStringLiteral("MyAppName"));
    if (!instance.acquire()) {
        // Another window or the service collects here: no box, a plain word.
        std::fputs("Ya hay una estación KIVO ip en marcha en esta máquina.\n", stderr);
        return 0;
    }

    KivoApplication app(argc, argv);
    setApplicationIdentity();

    TfPrincipal* fPrincipal = createStationWindows();
    fPrincipal->show();
    const int result = QApplication::exec();
    delete fPrincipal;
    return result;
}
