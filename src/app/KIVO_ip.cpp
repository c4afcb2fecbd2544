// Program start: one instance, the application title, the windows in their
// order, the event loop.
#include "app/StationStart.h"
#include "collect/ServiceLink.h"
#include "platform/SingleInstance.h"
#include "station/uPrincipal.h"
#include "ui/Application.h"

#include <QDir>
#include <cstdio>

int main(int argc, char** argv) {
    SingleInstance instance(QStringLiteral("MyAppName"));
    const bool collector = instance.acquire();

    KivoApplication app(argc, argv);
    QByteArray reply;
    // The service collects here: the window becomes its face.
    const bool serviceHere = !collector && ServiceLink::ask(QDir::currentPath(), "estado", reply);
    if (!collector && !serviceHere) {
        // Another window collects: no box, a plain word.
        std::fputs("Ya hay una estación KIVO ip en marcha en esta máquina.\n", stderr);
        return 0;
    }
    setApplicationIdentity();

    TfPrincipal* fPrincipal =
        createStationWindows(collector ? StationMode::Collector : StationMode::Monitor);
    fPrincipal->show();
    const int result = QApplication::exec();
    delete fPrincipal;
    return result;
}
