// kivo-ipd: the station as a service, without a window.
//   kivo-ipd [--workdir DIR]              runs the triggers of the settings
//   kivo-ipd --once | --sync-only         one cycle now, then exits
#include "platform/SingleInstance.h"
#include "service/JournalReport.h"
#include "service/StationService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

namespace {

// Exit statuses: every point succeeded, some failed, the station could not start.
constexpr int kFine = 0, kCannotStart = 2;

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Estación de recolección KIVO ip (taxi) sin ventana: descarga los "
                       "puntos de registro según la configuración y registra cada paso."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("once"),
                      QStringLiteral("Un ciclo de descarga ahora (con la sincronización) y "
                                     "termina: 0 si todos los puntos activos tuvieron éxito, 1 "
                                     "si alguno falló, 2 si la estación no pudo iniciarse.")});
    parser.addOption({QStringLiteral("sync-only"),
                      QStringLiteral("Solo sincroniza las listas con los puntos, y termina "
                                     "como --once.")});
    parser.addOption({QStringLiteral("workdir"),
                      QStringLiteral("Carpeta de trabajo (por omisión, la actual)."),
                      QStringLiteral("DIR")});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivo-ipd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVO_VERSION));
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        journalLine(3, parser.errorText());
        return kCannotStart;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(kFine);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const QString workDir = parser.value(QStringLiteral("workdir"));
    if (!workDir.isEmpty() && !QDir::setCurrent(workDir)) {
        journalLine(
            3, QStringLiteral("ERROR: no se puede usar la carpeta de trabajo %1").arg(workDir));
        return kCannotStart;
    }
    SingleInstance instance(QStringLiteral("MyAppName"));
    if (!instance.acquire()) {
        journalLine(3, QStringLiteral("ERROR: ya hay una estación en marcha en esta máquina."));
        return kCannotStart;
    }
    StationService service;
    if (!service.start())
        return kCannotStart;
    if (parser.isSet(QStringLiteral("once")) || parser.isSet(QStringLiteral("sync-only")))
        return service.runOnce(parser.isSet(QStringLiteral("sync-only")));
    return service.run();
}
