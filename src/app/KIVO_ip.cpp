// Program start: one instance, the application title, the windows in their
// order, the event loop.
#include "app/StationStart.h"
#include "collect/ServiceLink.h"
#include "platform/SingleInstance.h"
#include "station/uPrincipal.h"
#include "ui/Application.h"

#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <cstring>

namespace {

bool asksForInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"--help", "-h", "--version", "-v"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

// --help and --version answer on standard output without a display, and the
// program ends there. Any other argument is left to Qt (-platform, ...).
[[noreturn]] void answerInformation(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivo-ip"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVO_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Estación de recolección KIVO ip (taxi): descarga los tickets de los puntos de registro "
        "IP, los guarda en las tablas locales y en la tabla del servidor, y envía a cada punto "
        "la lista del personal y de los centros de costo. Usa como carpeta de trabajo la "
        "carpeta actual."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.parse(QCoreApplication::arguments()); // Qt's own options are no error here
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    parser.showVersion();
}

} // namespace

int main(int argc, char** argv) {
    if (asksForInformation(argc, argv))
        answerInformation(argc, argv);
    SingleInstance instance(QStringLiteral("MyAppName"));
    const bool collector = instance.acquire();

    KivoApplication app(argc, argv);
    QByteArray reply;
    // The service collects here: the window becomes its face. Asked even when
    // the lock was free, since a service under systemd keeps its lock in a
    // /tmp of its own (PrivateTmp) that the window does not see.
    const bool serviceHere = ServiceLink::ask(QDir::currentPath(), "estado", reply);
    if (!collector && !serviceHere) {
        // Another window collects: no box, a plain word.
        std::fputs("Ya hay una estación KIVO ip en marcha en esta máquina.\n", stderr);
        return 0;
    }
    setApplicationIdentity();

    TfPrincipal* fPrincipal = createStationWindows(
        collector && !serviceHere ? StationMode::Collector : StationMode::Monitor);
    fPrincipal->show();
    const int result = QApplication::exec();
    delete fPrincipal;
    return result;
}
