#include "service/StationService.h"

#include "collect/PointClients.h"
#include "collect/PointLease.h"
#include "collect/RunJournal.h"
#include "collect/ServiceLink.h"
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
    setUpPointClients(m_ftp, m_sock);
    m_session.OnPassword = [](TSession& sender, bool& go) {
        sender.AddPassword(kLocalTablesPassword);
        go = true;
    };
    m_controls = std::make_unique<SettingsCycleControls>(m_settings);
    m_report.onLine = [this](const QString& line) {
        followLine(line);
        m_control.broadcast("memo " + line.toUtf8());
    };
    m_report.onStatus = [this](const QString& text) {
        m_control.broadcast("estado " + text.toUtf8());
    };
    m_report.onClear = [this] { m_control.broadcast("limpiar"); };
}

// The members go in reverse order, the control socket first: nothing said
// while the others go may reach it.
StationService::~StationService() {
    m_report.onLine = nullptr;
    m_report.onStatus = nullptr;
    m_report.onClear = nullptr;
    if (m_health)
        m_health->onChanged = nullptr;
}

bool StationService::start() {
    try {
        const AliasNames aliases = declareStationAliases(m_session);
        m_localAlias = aliases.local;
        m_serverAlias = aliases.server;
        m_server.AliasName = m_server.DatabaseName = m_serverAlias;
        loadServerLogin(m_server);
        if (!loadSettings())
            return false;
        m_log.DatabaseName = m_points.DatabaseName = m_localAlias;
        m_log.TableName = QStringLiteral("log.DB");
        m_points.TableName = QStringLiteral("confRegIP.db");
        if (m_serverAlias != kNoServerAlias) {
            m_tickets.DatabaseName = m_serverAlias;
            m_tickets.TableName = QStringLiteral("dbo.tickettaxis");
            m_tickets.Open();
            m_tickets.Close();
        }
        m_work = std::make_unique<PuntoRegistro>(PointSetup{
            m_ftp, m_sock, m_report, m_localAlias, m_serverAlias,
            [this] { return m_settings.values().FTPtimeOut; },
            [this] { return m_settings.values(); }, [this] { m_settings.forgetKeyRun(); }});
        m_work->ensureJournals();
        m_cycles = std::make_unique<CollectionCycles>(m_timers.timers(), m_points, *m_controls,
                                                      *m_work, m_report);
        connectCycleTimers(*m_cycles, m_timers.timers(), this);
        startHealth();
        return true;
    } catch (const std::exception& error) {
        journalLine(kError, QStringLiteral("ERROR: no se puede iniciar la estación: ") +
                                QString::fromUtf8(error.what()));
        return false;
    }
}

// The health of the points is kept and its alerts raised in the core; the
// service tells them to the command and the e-mail relay of its settings.
void StationService::startHealth() {
    m_health = std::make_unique<HealthKeeper>(m_localAlias, m_report);
    loadHealthSettings();
    m_health->load();
    m_health->onChanged = [this] { m_control.broadcast("salud"); };
    m_health->onAlert = [this](const HealthAlert& alert) { m_alerts.send(alert); };
    m_cycles->setHealth(m_health.get());
}

void StationService::loadHealthSettings() {
    QStringList problems;
    const HealthSettings settings = ::loadHealthSettings(m_serverAlias, problems);
    for (const QString& problem : problems)
        journalLine(kError, QStringLiteral("ERROR: configuración de alertas: %1; se usa el valor "
                                           "por omisión")
                                .arg(problem));
    m_alerts.setSettings(settings);
    if (m_health)
        m_health->setPolicy(settings.policy);
}

bool StationService::loadSettings() {
    const QString problem =
        settingsAccessProblem(TRegistry::defaultPath(), qEnvironmentVariableIsSet("KIVO_REGISTRY"));
    if (!problem.isEmpty()) {
        journalLine(kError, QStringLiteral("ERROR: ") + problem);
        return false;
    }
    try {
        m_settings.setServerAlias(m_serverAlias);
        m_settings.load();
        if (!m_settings.keyFound())
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

int StationService::runOnce(bool syncOnly) {
    m_report.resetFailures();
    if (syncOnly)
        m_cycles->bSincClick();
    else
        m_cycles->startNow();
    waitForCycleEnd();
    waitForAlerts();
    return m_report.failures() == 0 ? 0 : 1;
}

bool StationService::cycleEnded() const {
    return !m_cycles->running() && !m_timers.TimerFTP.isActive() &&
           !m_timers.TimerFTPend.isActive() && !m_timers.TimerSinc.isActive() &&
           !m_timers.TimerSincEnd.isActive();
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
    for (QTimer* step :
         {&m_timers.TimerFTP, &m_timers.TimerFTPend, &m_timers.TimerSinc, &m_timers.TimerSincEnd})
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

void StationService::applyTriggers() {
    const StationSettings& settings = m_settings.values();
    m_timers.tAutoMin.setInterval(settings.DelayAutoMin * 1000);
    // As in the window, the daily trigger switches the constant one off.
    const bool daily = settings.Auto;
    const bool constant = settings.AutoMin && !daily;
    daily ? m_timers.tAuto.start() : m_timers.tAuto.stop();
    constant ? m_timers.tAutoMin.start() : m_timers.tAutoMin.stop();
}

int StationService::run() {
    try {
        m_control.listen(ServiceLink::socketPath());
    } catch (const Exception& error) {
        journalLine(kError, QStringLiteral("ERROR: ") + error.message());
        return 2;
    }
    SignalPipe pipe({SIGTERM, SIGINT, SIGHUP}, [this](int signal) { onSignal(signal); });
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

// SIGTERM and SIGINT cancel as "Cancelar" does: the point in hand is
// finished, then the service ends. SIGHUP re-reads the settings.
void StationService::onSignal(int signal) {
    if (signal == SIGHUP) {
        notifySystemd("RELOADING=1");
        if (loadSettings())
            applyTriggers();
        loadHealthSettings();
        notifySystemd("READY=1");
        return;
    }
    if (m_stopping)
        return;
    m_stopping = true;
    m_timers.tAuto.stop();
    m_timers.tAutoMin.stop();
    m_cycles->bCancelPoolClick();
    // The signal may have come while the cycle waits on the network or on
    // its storing run, below this handler: waiting here would keep that wait
    // from ever returning. The service ends once the cycle has.
    QObject::connect(&m_stopPoll, &QTimer::timeout, this, [this] {
        if (cycleEnded())
            QCoreApplication::quit();
    });
    m_stopPoll.start(50);
}

void StationService::followLine(const QString& line) {
    if (line.startsWith(QLatin1String("Iniciando ciclo"))) {
        m_state.lastStart = QDateTime::currentDateTime();
        m_state.lastEnd = QDateTime();
        m_state.current.clear();
        m_report.resetFailures();
    } else if (line.startsWith(QLatin1String("Ciclo de"))) {
        m_state.lastEnd = QDateTime::currentDateTime();
        m_state.current.clear();
        m_state.lastResult = line.contains(QLatin1String("cancelado")) ? QStringLiteral("cancelado")
                             : m_report.failures() == 0
                                 ? QStringLiteral("correcto")
                                 : QStringLiteral("%1 fallo(s)").arg(m_report.failures());
    } else {
        m_state.current = line.trimmed();
    }
}

// The commands of the control socket: "estado", and the three buttons.
QByteArray StationService::command(const QByteArray& line) {
    if (line == "estado")
        return stateText();
    if (line == "puntos")
        return pointsText();
    if (line == "releer") { // the window has saved the settings
        onSignal(SIGHUP);
        return "ok";
    }
    if (line == "cancelar") {
        m_cycles->bCancelPoolClick();
        return "ok";
    }
    if (line == "pendiente")
        return unfinishedText();
    if (line.startsWith("abandonar ")) {
        if (m_cycles->running())
            return "error: no se puede abandonar una descarga mientras corre un ciclo";
        return abandon(QString::fromUtf8(line.mid(10)));
    }
    if (line == "descargar" || line == "sincronizar") {
        if (m_cycles->running())
            return "error: ya hay un ciclo en curso";
        line == "descargar" ? m_cycles->startNow() : m_cycles->bSincClick();
        return "ok";
    }
    return "error: orden desconocida";
}

QByteArray StationService::stateText() const {
    const auto when = [](const QDateTime& t) {
        return t.isValid() ? t.toString(Qt::ISODate) : QString();
    };
    const QJsonObject state{
        {QStringLiteral("carpeta"), QDir::currentPath()},
        {QStringLiteral("estado"),
         m_cycles->running() ? QStringLiteral("en ciclo") : QStringLiteral("en espera")},
        {QStringLiteral("punto"), m_cycles->running() ? m_state.current : QString()},
        {QStringLiteral("inicio"), when(m_state.lastStart)},
        {QStringLiteral("fin"), when(m_state.lastEnd)},
        {QStringLiteral("resultado"), m_state.lastResult}};
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

// Every point of the points table with its health, as JSON.
QByteArray StationService::pointsText() const {
    try {
        const QList<PointHealthView> rows = m_health->view(HealthKeeper::readPoints(m_localAlias));
        return QJsonDocument(healthToJson(rows)).toJson(QJsonDocument::Compact);
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}

// The unfinished run, for a monitor that asks before it abandons it: its id,
// Loc and tickets, or an empty object.
QByteArray StationService::unfinishedText() {
    try {
        const std::optional<UnfinishedRun> run = m_work->unfinishedRun();
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
        return "ok " + m_work->abandonRun(runId).toUtf8();
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}

QByteArray StationService::leasesText() {
    if (m_serverAlias == kNoServerAlias)
        return "error: sin servidor (alias NONE) no hay turnos de los puntos";
    try {
        PointLeases leases(m_serverAlias, stationId());
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
    if (m_serverAlias == kNoServerAlias)
        return "error: sin servidor (alias NONE) no hay turnos de los puntos";
    try {
        PointLeases leases(m_serverAlias, stationId());
        QStringList lines;
        for (const PointLease& lease : leases.releaseStation(station)) {
            const bool stored =
                !lease.runId.isEmpty() &&
                RunJournal::holds(m_serverAlias, true, lease.runId, RunJournal::kServerStore);
            lines << leaseReleaseText(lease, stored);
            m_report.logRow(QStringLiteral("AVISO: turno liberado por el operador: ") +
                            lines.last());
        }
        if (lines.isEmpty())
            return "error: la estación " + station.toUtf8() + " no tiene turnos";
        return "ok " + lines.join(QLatin1Char('\n')).toUtf8();
    } catch (const std::exception& error) {
        return "error: " + QByteArray(error.what());
    }
}
