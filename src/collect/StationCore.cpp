#include "collect/StationCore.h"

#include "collect/LogTable.h"
#include "collect/PointClients.h"
#include "collect/Retention.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "store/DatabaseError.h"
#include "store/OffLoop.h"

namespace {
// How often the core looks whether the day's pruning is due.
constexpr int kPruneLookMs = 10 * 60 * 1000;
} // namespace

StationCore::StationCore(std::optional<CycleTimers> timers)
    // No window to repaint between points: the steps follow each other at once.
    : m_ownTimers(timers ? nullptr : std::make_unique<OwnedCycleTimers>(60, 10)),
      m_timers(timers ? *timers : m_ownTimers->timers()) {
    setUpPointClients(m_ftp, m_sock);
    m_session.OnPassword = [](TSession& sender, bool& go) {
        sender.AddPassword(kLocalTablesPassword);
        go = true;
    };
    m_controls = std::make_unique<SettingsCycleControls>(m_settings);
    if (m_ownTimers)
        connectOwnTimers();
    connect(&m_pruning, &QTimer::timeout, this, [this] { pruneIfDue(); });
    watchStoringRuns();
}

// The storing runs run on a thread of their own (runOffTheEventLoop), which
// tells how long each took; those of this station's cycles are its events.
void StationCore::watchStoringRuns() {
    m_storingWatch = watchOffTheEventLoop([this](double seconds, bool failed) {
        if (running())
            emit storingRunEnded(StoringRunTime{seconds, !failed});
    });
}

// A face that brings its timers connects them to its own named handlers.
void StationCore::connectOwnTimers() {
    const CycleTimers t = m_timers;
    connect(&t.dailyTimer, &QTimer::timeout, this, [this] { dailyTick(); });
    connect(&t.constantTimer, &QTimer::timeout, this, [this] { constantTick(); });
    connect(&t.downloadStepTimer, &QTimer::timeout, this, [this] { m_cycles->downloadStep(); });
    connect(&t.downloadEndTimer, &QTimer::timeout, this, [this] { m_cycles->endDownload(); });
    connect(&t.syncStepTimer, &QTimer::timeout, this, [this] { m_cycles->syncStep(); });
    connect(&t.syncEndTimer, &QTimer::timeout, this, [this] { m_cycles->endSync(); });
}

// The work and the cycles report into this object, which is going.
StationCore::~StationCore() {
    finishWrites();
    unwatchOffTheEventLoop(m_storingWatch);
    m_cycles.reset();
    m_work.reset();
    m_health.reset();
}

void StationCore::declareAliases() {
    m_aliases = declareStationAliases(m_session);
    m_settings.setServerAlias(m_aliases.server);
    m_server.AliasName = m_server.DatabaseName = m_aliases.server;
    m_points.DatabaseName = m_aliases.local;
    m_points.TableName = QStringLiteral("confRegIP.db");
    m_tickets.DatabaseName = m_aliases.server;
    m_tickets.TableName = QStringLiteral("dbo.tickettaxis");
    assemble();
}

// The point's work, the cycles and the health, bound to the aliases.
void StationCore::assemble() {
    finishWrites(); // the keeper going hears the failures of its rows
    m_cycles.reset();
    m_work = std::make_unique<PuntoRegistro>(
        PointSetup{m_ftp, m_sock, *this, m_aliases.local, m_aliases.server,
                   [this] { return m_settings.values().FTPtimeOut; },
                   [this] { return m_settings.values(); }, [this] { m_settings.forgetKeyRun(); },
                   QString(), [this] { return m_settings.values().PuntosALaVez; }});
    m_health = std::make_unique<HealthKeeper>(m_aliases.local, *this);
    m_health->setWriter(&m_writes);
    m_health->onChanged = [this] { emit healthChanged(); };
    m_health->onAlert = [this](const HealthAlert& alert) { emit alertRaised(alert); };
    m_cycles = std::make_unique<CollectionCycles>(m_timers, m_points, *m_controls, *m_work, *this);
    m_cycles->setHealth(m_health.get());
    m_cycles->addObserver(&m_relay);
}

void StationCore::setCycleControls(std::unique_ptr<CycleControls> controls) {
    m_controls = std::move(controls);
    if (m_work)
        assemble();
}

void StationCore::loadServerLogin() {
    ::loadServerLogin(m_server);
}

void StationCore::loadSettings(bool clamped) {
    clamped ? m_settings.loadClamped() : m_settings.load();
}

void StationCore::testServer() {
    if (!serverOn())
        return;
    m_tickets.Open();
    m_tickets.Close();
}

void StationCore::prepareDatabases() {
    m_work->ensureJournals();
}

HealthSettings StationCore::loadHealthSettings(QStringList& problems) {
    const HealthSettings settings = ::loadHealthSettings(m_aliases.server, problems);
    m_health->setPolicy(settings.policy);
    m_health->load();
    m_retentionDays = settings.retentionDays;
    if (m_retentionDays > 0 && !m_pruning.isActive()) {
        m_pruning.start(kPruneLookMs);
        QTimer::singleShot(0, this, [this] { pruneIfDue(); });
    }
    return settings;
}

// The runs that must stay journaled: the unfinished one, and those whose
// records a point may still hold. Said once a day in the log either way.
void StationCore::pruneIfDue() {
    const QDate today = currentDateTime().date();
    if (m_retentionDays <= 0 || running() || m_lastPrune == today)
        return;
    m_lastPrune = today;
    try {
        const RunState& state = m_work->state();
        QSet<QString> keep;
        if (state.unfinished)
            keep << state.run.runId;
        for (const PendingDelete& entry : state.pending)
            keep << entry.runId;
        PruneResult pruned;
        runOffTheEventLoop([&] {
            pruned =
                pruneOlderThan(m_aliases.local, m_aliases.server, m_retentionDays, today, keep);
        });
        logRow(QStringLiteral("Registros antiguos borrados (más de %1 días): %2 del registro de "
                              "operaciones y %3 del registro de descargas.")
                   .arg(m_retentionDays)
                   .arg(pruned.logRows)
                   .arg(pruned.runRows));
    } catch (const std::exception& error) {
        const QString text = QStringLiteral("ERROR: ") + QString::fromUtf8(error.what());
        statusText(text);
        try {
            logRow(text);
        } catch (const std::exception&) {
        }
    }
}

// --- StationControl ---

void StationCore::startDownload(const std::optional<ManualOutput>& manual) {
    if (manual)
        m_cycles->startManual(manual->path, manual->overwrite);
    else
        m_cycles->startNow();
}

void StationCore::startSync() {
    m_cycles->startSync();
}

void StationCore::cancel() {
    m_cycles->cancel();
}

void StationCore::stop() {
    m_cycles->stop();
    m_ftp.Halt();
    m_sock.Halt();
}

void StationCore::dailyTick() {
    m_cycles->dailyTick();
}

void StationCore::constantTick() {
    m_cycles->constantTick();
}

void StationCore::settingsSaved() {
    m_settings.save();
}

bool StationCore::running() const {
    return m_cycles && m_cycles->running();
}

QList<PointHealthView> StationCore::points() {
    return m_health->view(HealthKeeper::readPoints(m_aliases.local));
}

HealthPolicy StationCore::healthPolicy() {
    return m_health->policy();
}

void StationCore::setHealthPolicy(const HealthPolicy& policy) {
    saveHealthPolicy(m_aliases.server, policy);
    m_health->setPolicy(policy);
    emit healthChanged();
}

std::optional<UnfinishedRun> StationCore::unfinishedRun() {
    return m_work->unfinishedRun();
}

QString StationCore::abandonRun(const QString& runId) {
    if (running())
        throw Exception(
            QStringLiteral("No se puede abandonar una descarga mientras corre un ciclo."));
    return m_work->abandonRun(runId);
}

// --- StationReport ---

void StationCore::memoAppend(const QString& text) {
    emit memoAppended(text);
}

void StationCore::memoClear() {
    emit memoCleared();
}

void StationCore::statusText(const QString& text) {
    emit statusChanged(text);
}

void StationCore::logRow(const QString& archivo, std::optional<int> nroRegAsist) {
    const TDateTime at = Now(); // the row's time is when it was asked for
    m_writes.queue(
        [this, alias = m_aliases.local, archivo, nroRegAsist, at] {
            TTable log;
            log.DatabaseName = alias;
            log.TableName = QStringLiteral("log.DB");
            appendLogRow(log, archivo, nroRegAsist, at);
            m_logFailing = false;
        },
        [this](const QString& error) { logRowFailed(error); });
}

// A log out of reach fails every row after it: one error box, until a row is
// written again, and each row on the status line.
void StationCore::logRowFailed(const QString& error) {
    statusText(error);
    if (!m_logFailing.exchange(true))
        emit errorShown(error);
}

void StationCore::finishWrites() {
    m_writes.flush();
}

void StationCore::showError(const std::exception& error) {
    emit errorShown(QString::fromUtf8(error.what()));
}

void StationCore::transfer(const TransferProgress& progress) {
    emit transferProgress(progress);
}
