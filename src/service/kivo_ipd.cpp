// kivo-ipd: the station as a service, without a window.
//   kivo-ipd [--workdir DIR]              runs the triggers of the settings
//   kivo-ipd --once | --sync-only         one cycle now, then exits
//   kivo-ipd --status                     what the running service does
//   kivo-ipd --status --points [--json]   the health of every point
//   kivo-ipd --abandon ID                 the unfinished run given up
//   kivo-ipd --leases | --release STATION the points' leases in the server
#include "collect/HealthSettings.h"
#include "collect/PointClients.h"
#include "collect/PointHealth.h"
#include "collect/ServiceLink.h"
#include "platform/CollectorLocks.h"
#include "platform/CommandLineHelp.h"
#include "platform/QtSpanish.h"
#include "platform/StateOwner.h"
#include "service/JournalReport.h"
#include "service/StationService.h"
#include "store/Aliases.h"
#include "store/DataSet.h"
#include "store/Session.h"
#include "web/WebAccounts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// Exit statuses: every point succeeded, some failed, the station could not start.
constexpr int kFine = 0, kCannotStart = 2, kNoService = 3;

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Estación de recolección KIVO ip (taxi) sin ventana: descarga los "
                       "puntos de registro según la configuración y registra cada paso."));
    addInformationOptions(parser);
    parser.addOption({QStringLiteral("once"),
                      QStringLiteral("Un ciclo de descarga ahora (con la sincronización) y "
                                     "termina: 0 si todos los puntos activos tuvieron éxito, 1 "
                                     "si alguno falló, 2 si la estación no pudo iniciarse.")});
    parser.addOption({QStringLiteral("sync-only"),
                      QStringLiteral("Solo sincroniza las listas con los puntos, y termina "
                                     "como --once.")});
    parser.addOption({QStringLiteral("status"),
                      QStringLiteral("Muestra qué hace el servicio que trabaja con el estado de "
                                     "esta estación y termina: 0, o 3 si no hay servicio en "
                                     "marcha.")});
    parser.addOption({QStringLiteral("points"),
                      QStringLiteral("Con --status: el estado de cada punto de registro (último "
                                     "intento, último éxito, fallos seguidos, registros).")});
    parser.addOption(
        {QStringLiteral("json"), QStringLiteral("Con --status --points: la misma tabla en JSON.")});
    parser.addOption({QStringLiteral("abandon"),
                      QStringLiteral("Abandona la descarga sin terminar cuyo identificador "
                                     "empieza por ID (al menos 8 caracteres): sus tickets no se "
                                     "almacenan. Lo hace el servicio en marcha, si lo hay."),
                      QStringLiteral("ID")});
    parser.addOption({QStringLiteral("leases"),
                      QStringLiteral("Muestra qué estación descarga cada punto ahora (los turnos "
                                     "guardados en el servidor) y termina.")});
    parser.addOption({QStringLiteral("release"),
                      QStringLiteral("Libera los turnos de la estación ESTACIÓN (su identificador, "
                                     "su comienzo o el nombre de su equipo), por ejemplo de una "
                                     "estación que dejó de funcionar, y dice qué registros pueden "
                                     "estar solo en ella."),
                      QStringLiteral("ESTACIÓN")});
    parser.addOption({QStringLiteral("usuario"),
                      QStringLiteral("Pide la contraseña de NOMBRE para la página web y escribe "
                                     "la línea que el administrador agrega al archivo de cuentas "
                                     "(/etc/kivo-ip/web-usuarios); no escribe nada más."),
                      QStringLiteral("NOMBRE")});
    parser.addOption({QStringLiteral("workdir"),
                      QStringLiteral("Carpeta de trabajo (por omisión, la actual)."),
                      QStringLiteral("CARPETA")});
}

bool askService(const QByteArray& command, QByteArray& reply) {
    if (ServiceLink::ask(command, reply))
        return true;
    std::fprintf(stderr, "No hay ninguna estación en marcha con el estado de %s.\n",
                 qPrintable(AliasConfig::dataDirectory()));
    return false;
}

// Where a health read from the station's state reports: nothing goes to its
// log, and what goes wrong ends the query.
class QuietReport : public StationReport {
public:
    void memoAppend(const QString&) override {}
    void memoClear() override {}
    void statusText(const QString& text) override { problems << text; }
    void logRow(const QString&, std::optional<int>) override {}
    void showError(const std::exception& error) override {
        problems << QString::fromUtf8(error.what());
    }
    QStringList problems;
};

// The points' health as the station's own databases keep it: what a service
// would answer, read without one.
std::optional<QList<PointHealthView>> healthFromState(QString& why) {
    try {
        TSession session;
        const AliasNames aliases = declareStationAliases(session);
        const AliasDefinition local = AliasConfig::definitionFor(aliases.local);
        if (local.embedded && !QFileInfo::exists(AliasConfig::embeddedPath(aliases.local))) {
            why = QStringLiteral("no hay estado de la estación en %1")
                      .arg(AliasConfig::dataDirectory());
            return std::nullopt;
        }
        QuietReport report;
        HealthKeeper keeper(aliases.local, report);
        QStringList problems;
        keeper.setPolicy(loadHealthSettings(aliases.server, problems).policy);
        keeper.load();
        return keeper.view(HealthKeeper::readPoints(aliases.local));
    } catch (const std::exception& error) {
        why = QString::fromUtf8(error.what());
        return std::nullopt;
    }
}

// The monitoring-plugin answer of the points' health: 0 every active point
// healthy, 1 some failing, 2 some down.
int healthStatus(const QList<PointHealthView>& points) {
    int status = kFine;
    for (const PointHealthView& p : points)
        status = std::max(status, p.state == PointHealthView::State::Down      ? 2
                                  : p.state == PointHealthView::State::Failing ? 1
                                                                               : 0);
    return status;
}

// The health of every point, from the running service or, with none, from
// the station's state itself; as a table or as JSON. 3 when neither is there.
int printPoints(bool json) {
    QJsonArray rows;
    QByteArray reply;
    if (ServiceLink::ask("puntos", reply) && !reply.startsWith("error")) {
        rows = QJsonDocument::fromJson(reply).array();
    } else {
        QString why;
        const std::optional<QList<PointHealthView>> points = healthFromState(why);
        if (!points) {
            std::fprintf(stderr, "ERROR: %s\n", qPrintable(why));
            return kNoService;
        }
        rows = healthToJson(*points);
    }
    const QList<PointHealthView> points = healthFromJson(rows);
    const QByteArray text =
        json ? QJsonDocument(rows).toJson(QJsonDocument::Indented) : healthText(points).toUtf8();
    std::fputs(text.constData(), stdout);
    return healthStatus(points);
}

// A status query run by the packaged service's user, its group or root
// without the service's environment looks where the package keeps the state.
void findPackagedState() {
    const QString packaged = QStringLiteral("/var/lib/kivo-ip");
    if (qEnvironmentVariableIsSet("XDG_DATA_HOME") ||
        QFileInfo::exists(AliasConfig::dataDirectory()) ||
        !QFileInfo(packaged + QStringLiteral("/kivo-ip")).isDir())
        return;
    qputenv("XDG_DATA_HOME", packaged.toUtf8());
    if (!qEnvironmentVariableIsSet("KIVO_REGISTRY"))
        qputenv("KIVO_REGISTRY", (packaged + QStringLiteral("/registry.reg")).toUtf8());
    if (!qEnvironmentVariableIsSet("KIVO_ALIASES"))
        qputenv("KIVO_ALIASES", "/etc/kivo-ip/aliases.ini");
    QDir::setCurrent(packaged);
}

// Options that make no sense together: a mistake in a status query is 3
// (unknown, as monitoring plugins say), elsewhere 2.
int mistakenOptions(const QCommandLineParser& parser) {
    const auto set = [&](const char* name) { return parser.isSet(QLatin1String(name)); };
    const bool collecting =
        set("once") || set("sync-only") || set("abandon") || set("leases") || set("release");
    QString why;
    if (set("status") && collecting)
        why = QStringLiteral("--status no se combina con las órdenes que recolectan");
    else if (set("points") && !set("status"))
        why = QStringLiteral("--points solo va con --status");
    else if (set("json") && !set("points"))
        why = QStringLiteral("--json solo va con --status --points");
    else if (set("once") && set("sync-only"))
        why = QStringLiteral("--once y --sync-only no se combinan");
    if (why.isEmpty())
        return -1;
    journalLine(3, QStringLiteral("ERROR: ") + why);
    return set("status") && !collecting ? kNoService : kCannotStart;
}

// One line of standard input; without echo when it is a terminal.
QByteArray readSecret(const char* prompt) {
    std::fputs(prompt, stderr);
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputs("\n", stderr);
    }
    return QByteArray::fromStdString(line);
}

// The web page's account line for a name: the password is asked for (twice
// at a terminal) and only its Argon2id hash is printed.
int printAccountLine(const QString& name) {
    if (!validAccountName(name)) {
        journalLine(3, QStringLiteral("ERROR: el nombre '%1' solo puede tener letras, cifras, "
                                      "'.', '_' y '-' (hasta 64)")
                           .arg(name));
        return kCannotStart;
    }
    const QByteArray password = readSecret("Contraseña: ");
    if (password.isEmpty() ||
        (isatty(STDIN_FILENO) && readSecret("Repita la contraseña: ") != password)) {
        journalLine(3, QStringLiteral("ERROR: la contraseña está vacía o no coincide"));
        return kCannotStart;
    }
    std::printf("%s\n", accountLine(name, password).toUtf8().constData());
    return kFine;
}

// The running service's state, for a person.
int printStatus() {
    QByteArray reply;
    if (!askService("estado", reply))
        return kNoService;
    const QJsonObject s = QJsonDocument::fromJson(reply).object();
    const auto field = [&](const char* name) { return s.value(QLatin1String(name)).toString(); };
    QString text = QStringLiteral("Estación en marcha en %1\nEstado: %2\n")
                       .arg(field("carpeta"), field("estado"));
    if (!field("punto").isEmpty())
        text += QStringLiteral("Punto en curso: %1\n").arg(field("punto"));
    if (!field("inicio").isEmpty())
        text +=
            QStringLiteral("Último ciclo: inicio %1, fin %2, resultado %3\n")
                .arg(field("inicio"), field("fin").isEmpty() ? QStringLiteral("-") : field("fin"),
                     field("resultado").isEmpty() ? QStringLiteral("-") : field("resultado"));
    std::fputs(text.toUtf8().constData(), stdout);
    return kFine;
}

// "ok <text>" or "error: <text>", as the service answers: the text on
// standard output, or on standard error with status 2.
int printReply(const QByteArray& reply) {
    if (reply.startsWith("ok")) {
        std::fputs(reply.mid(3).append('\n').constData(), stdout);
        return kFine;
    }
    std::fprintf(stderr, "ERROR: %s\n", reply.mid(7).constData());
    return kCannotStart;
}

// The points' leases in the server, or those of a station given back. Reads
// and writes the server only: no lock is taken.
int leaseCommand(const QString& station) {
    StationService service;
    if (!service.start())
        return kCannotStart;
    return printReply(station.isEmpty() ? service.leasesText() : service.releaseLeases(station));
}

// The fetched files, the output files and the control socket go to the
// working directory: one that cannot be written would fail every point of
// every cycle. Tried with a file, since permissions do not bind every user.
QString workDirTrouble() {
    QTemporaryFile probe(QDir::current().filePath(QStringLiteral(".kivo-ipd-XXXXXX")));
    return probe.open() ? QString() : probe.errorString();
}

// Qt's GUI start looks for the user's runtime folder, which a system service
// has none of, and says so on standard error, where every line is the
// journal's; nothing here uses that folder. Every other message goes on.
QtMessageHandler qtMessages = nullptr;
void withoutRuntimeFolderNotice(QtMsgType type, const QMessageLogContext& context,
                                const QString& text) {
    if (!text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        qtMessages(type, context, text);
}

} // namespace

int main(int argc, char** argv) {
    // The web page's PDF summary needs fonts, which only a GUI application
    // object gives; the offscreen platform gives it without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtMessages = qInstallMessageHandler(withoutRuntimeFolderNotice);
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(qtMessages);
    QCoreApplication::setApplicationName(QStringLiteral("kivo-ipd"));
    loadQtSpanish();
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVO_VERSION));
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        journalLine(3, parser.errorText());
        return QCoreApplication::arguments().contains(QStringLiteral("--status")) ? kNoService
                                                                                  : kCannotStart;
    }
    answerInformationOptions(parser);
    if (const int mistake = mistakenOptions(parser); mistake >= 0)
        return mistake;
    if (parser.isSet(QStringLiteral("usuario")))
        return printAccountLine(parser.value(QStringLiteral("usuario")));
    const QString workDir = parser.value(QStringLiteral("workdir"));
    if (!workDir.isEmpty() && !QDir::setCurrent(workDir)) {
        journalLine(
            3, QStringLiteral("ERROR: no se puede usar la carpeta de trabajo %1").arg(workDir));
        return kCannotStart;
    }
    if (parser.isSet(QStringLiteral("status")) && workDir.isEmpty())
        findPackagedState();
    if (parser.isSet(QStringLiteral("status")) && parser.isSet(QStringLiteral("points")))
        return printPoints(parser.isSet(QStringLiteral("json")));
    if (parser.isSet(QStringLiteral("status")))
        return printStatus();
    // Whatever follows may write the station's state.
    if (const QString why =
            stateOwnerProblem(AliasConfig::dataDirectory(), geteuid(), QStringLiteral("kivo-ipd"));
        !why.isEmpty()) {
        journalLine(3, QStringLiteral("ERROR: ") + why);
        return kCannotStart;
    }
    if (const QString why = workDirTrouble(); !why.isEmpty()) {
        journalLine(3, QStringLiteral("ERROR: no se puede escribir en la carpeta de trabajo %1: %2")
                           .arg(QDir::currentPath(), why));
        return kCannotStart;
    }
    if (parser.isSet(QStringLiteral("leases")) || parser.isSet(QStringLiteral("release")))
        return leaseCommand(parser.value(QStringLiteral("release")));
    const QString abandon = parser.value(QStringLiteral("abandon"));
    if (!abandon.isEmpty()) {
        QByteArray reply;
        if (ServiceLink::ask("abandonar " + abandon.toUtf8(), reply))
            return printReply(reply);
    }
    CollectorLocks locks(AliasConfig::dataDirectory());
    switch (locks.acquire()) {
    case CollectorLocks::Refusal::Machine:
        journalLine(3, QStringLiteral("ERROR: ya hay una estación en marcha en esta máquina (%1).")
                           .arg(locks.holder()));
        return kCannotStart;
    case CollectorLocks::Refusal::Folder:
        journalLine(3, QStringLiteral("ERROR: ya hay una estación trabajando con el estado de %1 "
                                      "(%2).")
                           .arg(AliasConfig::dataDirectory(), locks.holder()));
        return kCannotStart;
    case CollectorLocks::Refusal::None:
        break;
    }
    StationService service;
    if (!service.start())
        return kCannotStart;
    if (!abandon.isEmpty())
        return printReply(service.abandon(abandon));
    if (parser.isSet(QStringLiteral("once")) || parser.isSet(QStringLiteral("sync-only")))
        return service.runOnce(parser.isSet(QStringLiteral("sync-only")));
    return service.run();
}
