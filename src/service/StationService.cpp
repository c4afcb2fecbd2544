#include "service/StationService.h"

#include "collect/PointLease.h"
#include "collect/RunJournal.h"
#include "collect/ServiceLink.h"
#include "collect/StationEventCodec.h"
#include "platform/Registry.h"
#include "service/SettingsAccess.h"
#include "service/SignalPipe.h"
#include "service/SystemdNotify.h"
#include "store/Aliases.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kError = 3, kWarning = 4, kInfo = 6;

} // namespace

StationService::StationService() {
    StationEventCodec::forward(m_core,
                               [this](const QByteArray& line) { m_control.broadcast(line); });
    QObject::connect(&m_core, &StationControl::alertRaised, this,
                     [this](const HealthAlert& alert) { m_alerts.send(alert); });
    followEvents();
}

// The members go in reverse order, the control socket first: nothing said
// while the others go may reach it.
StationService::~StationService() {
    m_core.finishWrites(); // the journal still says a row that cannot be written
    QObject::disconnect(&m_core, nullptr, nullptr, nullptr);
}

bool StationService::start() {
    try {
        m_core.declareAliases();
        m_core.loadServerLogin();
        if (!loadSettings())
            return false;
        m_core.testServer();
        m_core.prepareDatabases();
        loadHealthSettings();
        return true;
    } catch (const std::exception& error) {
        journalLine(kError, QStringLiteral("ERROR: no se puede iniciar la estación: ") +
                                QString::fromUtf8(error.what()));
        return false;
    }
}

// The health of the points is kept and its alerts raised in the core; the
// service tells them to the command and the e-mail relay of its settings.
void StationService::loadHealthSettings() {
    QStringList problems;
    const HealthSettings settings = m_core.loadHealthSettings(problems);
    for (const QString& problem : problems)
        journalLine(kError, QStringLiteral("ERROR: configuración de alertas: %1; se usa el valor "
                                           "por omisión")
                                .arg(problem));
    m_alerts.setSettings(settings);
}

// The settings file read strictly: a file that cannot be used (a typo in a
// key's line, say) is named with its line and left as it is. A start then
// fails; a reload keeps the settings in force and says why.
QString StationService::settingsProblem() const {
    QString problem =
        settingsAccessProblem(TRegistry::defaultPath(), qEnvironmentVariableIsSet("KIVO_REGISTRY"));
    return problem.isEmpty() ? TRegistry::fileProblem() : problem;
}

bool StationService::loadSettings() {
    if (const QString problem = settingsProblem(); !problem.isEmpty()) {
        journalLine(kError, QStringLiteral("ERROR: ") + problem);
        return false;
    }
    try {
        m_core.loadSettings(false);
        if (!m_core.settings().keyFound())
            journalLine(kWarning, QStringLiteral("AVISO: %1 no tiene la configuración de la "
                                                 "estación; rigen los valores por omisión")
                                      .arg(TRegistry::defaultPath()));
        return true;
    } catch (const ERegistryException& error) {
        journalLine(kError, QStringLiteral("ERROR: configuración no válida en %1: %2")
                                .arg(TRegistry::defaultPath(), error.message()));
        return false;
    }
}

// What --status says, and what --once answers, from the core's events.
void StationService::followEvents() {
    QObject::connect(&m_core, &StationControl::cycleStarted, this, [this](CycleKind kind) {
        m_state.kind = kind;
        m_state.lastStart = QDateTime::currentDateTime();
        m_state.lastEnd = QDateTime();
        m_state.current.clear();
        m_state.failures = 0;
    });
    QObject::connect(&m_core, &StationControl::pointStarted, this, [this](const PointVisit& point) {
        m_state.current = QStringLiteral("%1 (%2)").arg(point.desc, point.ip);
    });
    QObject::connect(&m_core, &StationControl::pointVisited, this, [this](const PointVisit& visit) {
        if (!visit.outcome.ok && !visit.outcome.elsewhere)
            ++m_state.failures;
    });
    // In a download cycle a push that failed fails its point's visit.
    QObject::connect(&m_core, &StationControl::listsPushed, this, [this](const ListsPush& push) {
        if (!push.ok && m_state.kind == CycleKind::Sync)
            ++m_state.failures;
    });
    QObject::connect(&m_core, &StationControl::errorShown, this, [this] { ++m_state.failures; });
    QObject::connect(&m_core, &StationControl::cycleEnded, this, [this](CycleKind, bool cancelled) {
        m_state.lastEnd = QDateTime::currentDateTime();
        m_state.current.clear();
        m_state.lastResult = cancelled ? QStringLiteral("cancelado")
                             : m_state.failures == 0
                                 ? QStringLiteral("correcto")
                                 : QStringLiteral("%1 fallo(s)").arg(m_state.failures);
    });
}

// A signal stops the cycle as it stops the service; a run stopped so did not
// visit every point, and says so with status 1.
int StationService::runOnce(bool syncOnly) {
    SignalPipe pipe({SIGTERM, SIGINT}, [this](int) { stop(); });
    m_alerts.keepMailQueue(MailQueue::defaultPath());
    m_state.failures = 0;
    syncOnly ? m_core.startSync() : m_core.startDownload(std::nullopt);
    waitForCycleEnd();
    waitForAlerts();
    return m_state.failures == 0 && !m_stopping ? 0 : 1;
}

bool StationService::cycleEnded() const {
    const CycleTimers t = m_core.timers();
    return !m_core.running() && !t.downloadStepTimer.isActive() && !t.downloadEndTimer.isActive() &&
           !t.syncStepTimer.isActive() && !t.syncEndTimer.isActive();
}

// Serves the event loop until the cycle has ended. A cycle ends in one of its
// step timers' handlers, so the end is looked for right after each of them
// (a --once run then ends with its cycle, not up to a poll interval later);
// the poll is a safety net.
void StationService::waitForCycleEnd() {
    QEventLoop loop;
    const auto quitAtEnd = [&] {
        if (cycleEnded())
            loop.quit();
    };
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &loop, quitAtEnd);
    const CycleTimers t = m_core.timers();
    for (QTimer* step :
         {&t.downloadStepTimer, &t.downloadEndTimer, &t.syncStepTimer, &t.syncEndTimer})
        QObject::connect(step, &QTimer::timeout, &loop, quitAtEnd, Qt::QueuedConnection);
    poll.start();
    QTimer::singleShot(0, &loop, quitAtEnd);
    loop.exec();
}

// The alerts of a single cycle reach their command and relay before the
// process ends; each is bounded by its own time limit.
void StationService::waitForAlerts() {
    if (m_alerts.inFlight() == 0)
        return;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (m_alerts.inFlight() == 0)
            loop.quit();
    });
    poll.start();
    loop.exec();
}

// As in the window, the daily trigger switches the constant one off. A
// trigger already running as the settings say goes on counting: a reload
// does not move the next constant cycle.
void StationService::applyTriggers() {
    const StationSettings& settings = m_core.settings().values();
    const CycleTimers t = m_core.timers();
    const bool daily = settings.Auto;
    const bool constant = settings.AutoMin && !daily && !m_stopping;
    const int interval = settings.DelayAutoMin * 1000;
    if (t.constantTimer.interval() != interval) {
        const bool wasOn = t.constantTimer.isActive();
        t.constantTimer.setInterval(interval); // restarts a running timer
        if (!wasOn)
            t.constantTimer.stop();
    }
    if (!daily || m_stopping)
        t.dailyTimer.stop();
    else if (!t.dailyTimer.isActive())
        t.dailyTimer.start();
    if (!constant)
        t.constantTimer.stop();
    else if (!t.constantTimer.isActive() && !m_core.running())
        t.constantTimer.start();
}

int StationService::run() {
    try {
        m_control.listen(ServiceLink::socketPath());
    } catch (const Exception& error) {
        journalLine(kError, QStringLiteral("ERROR: ") + error.message());
        return 2;
    }
    SignalPipe pipe({SIGTERM, SIGINT, SIGHUP}, [this](int signal) { onSignal(signal); });
    m_alerts.keepMailQueue(MailQueue::defaultPath());
    m_metrics.apply(m_core.serverAlias());
    m_web.apply(m_core.localAlias(), m_core.serverAlias());
    applyTriggers();
    if (const int ping = watchdogPingInterval()) {
        m_watchdog.setInterval(ping);
        QObject::connect(&m_watchdog, &QTimer::timeout, this, [] { notifySystemd("WATCHDOG=1"); });
        m_watchdog.start();
    }
    notifySystemd("READY=1\nSTATUS=En espera");
    journalLine(kInfo, QStringLiteral("Estación en marcha en %1").arg(QDir::currentPath()));
    QCoreApplication::exec();
    notifySystemd("STOPPING=1");
    return 0;
}

void StationService::onSignal(int signal) {
    signal == SIGHUP ? reload() : stop();
}

// The settings file anew, and the triggers from it; a trigger whose settings
// did not change keeps its schedule.
void StationService::reload() {
    notifySystemd("RELOADING=1");
    if (const QString problem = settingsProblem(); !problem.isEmpty()) {
        journalLine(kWarning, QStringLiteral("AVISO: no se vuelve a leer la configuración: %1; "
                                             "siguen los valores en uso")
                                  .arg(problem));
        notifySystemd("READY=1");
        return;
    }
    if (loadSettings()) {
        applyTriggers();
        journalLine(
            kInfo,
            QStringLiteral("Configuración leída de nuevo de %1").arg(TRegistry::defaultPath()));
    } else {
        journalLine(kWarning, QStringLiteral("AVISO: siguen los valores de configuración en uso"));
    }
    loadHealthSettings();
    m_metrics.apply(m_core.serverAlias());
    m_web.apply(m_core.localAlias(), m_core.serverAlias());
    notifySystemd("READY=1");
}

// The triggers stop, the point in hand's waits end at once (nothing is
// deleted on it; a storing run in progress finishes), and the service ends
// once the cycle has: whatever the FTP time-out, within systemd's patience. The signal may have
// come while the cycle waits on the network or on its storing run, below this handler: waiting here
// would keep that wait from ever returning.
void StationService::stop() {
    if (m_stopping)
        return;
    m_stopping = true;
    journalLine(kInfo, m_core.running()
                           ? QStringLiteral("Deteniendo la estación: se deja de esperar al punto "
                                            "en curso, sin pedirle que borre")
                           : QStringLiteral("Deteniendo la estación"));
    const CycleTimers t = m_core.timers();
    t.dailyTimer.stop();
    t.constantTimer.stop();
    m_core.stop();
    QObject::connect(&m_stopPoll, &QTimer::timeout, this, [this] {
        if (cycleEnded())
            QCoreApplication::quit();
    });
    m_stopPoll.start(50);
}

// The commands of the control socket: the state, the points, the buttons,
// the settings anew, and the unfinished run.
QByteArray StationService::command(const QByteArray& line) {
    if (line == "estado")
        return stateText();
    if (line == "puntos")
        return pointsText();
    if (line == "releer") { // the window has saved the settings
        reload();
        return "ok";
    }
    if (line == "cancelar") {
        m_core.cancel();
        return "ok";
    }
    if (line == "pendiente")
        return unfinishedText();
    if (line.startsWith("abandonar "))
        return abandon(QString::fromUtf8(line.mid(10)));
    if (line == "descargar" || line == "sincronizar" || line.startsWith("descargar ")) {
        if (m_core.running())
            return "error: ya hay un ciclo en curso";
        if (line.startsWith("descargar "))
            return startManual(line.mid(10));
        line == "descargar" ? m_core.startDownload(std::nullopt) : m_core.startSync();
        return "ok";
    }
    return "error: orden desconocida";
}

// "&Descargar" of a window that follows the service: its "Archivo:" and
// "Sobrescribir", as {"archivo": ..., "sobrescribir": ...}.
QByteArray StationService::startManual(const QByteArray& json) {
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    const QString path = o.value(QStringLiteral("archivo")).toString();
    if (path.isEmpty())
        return "error: " + kManualFileNeeded.toUtf8();
    m_core.startDownload(ManualOutput{path, o.value(QStringLiteral("sobrescribir")).toBool()});
    return "ok";
}

QByteArray StationService::stateText() const {
    const auto when = [](const QDateTime& t) {
        return t.isValid() ? t.toString(Qt::ISODate) : QString();
    };
    const QJsonObject state{
        {QStringLiteral("carpeta"), QDir::currentPath()},
        {QStringLiteral("estado"),
         m_core.running() ? QStringLiteral("en ciclo") : QStringLiteral("en espera")},
        {QStringLiteral("punto"), m_core.running() ? m_state.current : QString()},
        {QStringLiteral("inicio"), when(m_state.lastStart)},
        {QStringLiteral("fin"), when(m_state.lastEnd)},
        {QStringLiteral("resultado"), m_state.lastResult}};
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

// Every point of the points table with its health, as JSON.
QByteArray StationService::pointsText() {
    try {
        return QJsonDocument(healthToJson(m_core.points())).toJson(QJsonDocument::Compact);
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}

// The unfinished run, for a monitor that asks before it abandons it: its id,
// Loc and tickets, or an empty object.
QByteArray StationService::unfinishedText() {
    try {
        const std::optional<UnfinishedRun> run = m_core.unfinishedRun();
        if (!run)
            return "{}";
        return QJsonDocument(QJsonObject{{QStringLiteral("descarga"), run->runId},
                                         {QStringLiteral("loc"), run->loc},
                                         {QStringLiteral("tickets"), run->tickets}})
            .toJson(QJsonDocument::Compact);
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}

QByteArray StationService::abandon(const QString& runId) {
    try {
        return "ok " + m_core.abandonRun(runId).toUtf8();
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}

QByteArray StationService::leasesText() {
    if (!m_core.serverOn())
        return "error: sin servidor (alias NONE) no hay turnos de los puntos";
    try {
        PointLeases leases(m_core.serverAlias(), stationId());
        QStringList lines;
        for (const PointLease& lease : leases.all())
            lines << QStringLiteral("%1: estación %2 en %3, desde %4%5")
                         .arg(lease.point, lease.station.left(8), lease.host, lease.since,
                              lease.runId.isEmpty()
                                  ? QString()
                                  : QStringLiteral(", descarga %1 de %2 registro(s)")
                                        .arg(lease.runId.left(8))
                                        .arg(lease.records));
        if (lines.isEmpty())
            lines << QStringLiteral("Ningún punto tiene turno.");
        lines << QStringLiteral("Esta estación es %1.").arg(stationId());
        return "ok " + lines.join(QLatin1Char('\n')).toUtf8();
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}

QByteArray StationService::releaseLeases(const QString& station) {
    if (!m_core.serverOn())
        return "error: sin servidor (alias NONE) no hay turnos de los puntos";
    try {
        PointLeases leases(m_core.serverAlias(), stationId());
        QStringList lines;
        for (const PointLease& lease : leases.releaseStation(station)) {
            const bool stored =
                !lease.runId.isEmpty() && RunJournal::holds(m_core.serverAlias(), true, lease.runId,
                                                            RunJournal::kServerStore);
            lines << leaseReleaseText(lease, stored);
            m_core.logRow(QStringLiteral("AVISO: turno liberado por el operador: ") + lines.last());
        }
        if (lines.isEmpty())
            return "error: la estación " + station.toUtf8() + " no tiene turnos";
        return "ok " + lines.join(QLatin1Char('\n')).toUtf8();
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}
