// Program start: one instance, the application title, the windows in their
// order, the event loop.
#include "app/StationStart.h"
#include "collect/ServiceLink.h"
#include "platform/CollectorLocks.h"
#include "platform/CommandLineHelp.h"
#include "platform/QtSpanish.h"
#include "platform/StateOwner.h"
#include "station/uPrincipal.h"
#include "store/Aliases.h"
#include "ui/Application.h"

#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

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
    loadQtSpanish();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Estación de recolección KIVO ip (taxi): descarga los tickets de los puntos de registro "
        "IP, los guarda en las tablas locales y en la tabla del servidor, y envía a cada punto "
        "la lista del personal y de los centros de costo. Usa como carpeta de trabajo la "
        "carpeta actual."));
    addInformationOptions(parser);
    parser.parse(QCoreApplication::arguments()); // Qt's own options are no error here
    answerInformationOptions(parser);
    std::exit(0); // asked with -h or -v among arguments the parser refused
}

// Another station collects: no box, a plain word and the status scripts read.
int refuse(const QString& why) {
    std::fputs(qPrintable(why + QLatin1Char('\n')), stderr);
    return 2;
}

int runWindow(StationMode mode) {
    TfPrincipal* fPrincipal = createStationWindows(mode);
    fPrincipal->show();
    const int result = QApplication::exec();
    delete fPrincipal;
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (asksForInformation(argc, argv))
        answerInformation(argc, argv);
    KivoApplication app(argc, argv);
    QByteArray reply;
    // A service works on this station's state: the window becomes its face,
    // and takes no lock.
    if (ServiceLink::ask("estado", reply)) {
        setApplicationIdentity();
        return runWindow(StationMode::Monitor);
    }
    // Collecting as another user than the state's owner would leave files the
    // service cannot write.
    if (const QString why =
            stateOwnerProblem(AliasConfig::dataDirectory(), geteuid(), QStringLiteral("kivo-ip"));
        !why.isEmpty())
        return refuse(QStringLiteral("ERROR: ") + why);
    // Where the machine-wide name is not seen (another name, another network
    // namespace), two collectors must still never share the local copies and
    // the recovery state: the state folder's lock keeps them apart.
    CollectorLocks locks(AliasConfig::dataDirectory());
    switch (locks.acquire()) {
    case CollectorLocks::Refusal::Machine:
        return refuse(QStringLiteral("Ya hay una estación KIVO ip en marcha en esta máquina (%1).")
                          .arg(locks.holder()));
    case CollectorLocks::Refusal::Folder:
        return refuse(QStringLiteral("Ya hay una estación KIVO ip trabajando con el estado de %1 "
                                     "(%2).")
                          .arg(AliasConfig::dataDirectory(), locks.holder()));
    case CollectorLocks::Refusal::None:
        break;
    }
    setApplicationIdentity();
    return runWindow(StationMode::Collector);
}
