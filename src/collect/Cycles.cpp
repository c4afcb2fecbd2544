#include "collect/Cycles.h"

#include "collect/OutputFileName.h"
#include "collect/PointHealth.h"
#include "collect/PushSlots.h"
#include "net/SockErrors.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/Regional.h"
#include "store/DataSet.h"

#include <QObject>
#include <QSet>

namespace {
const QString kLineEnd = QStringLiteral("\r\n");

QString withNow(const QString& text) {
    return text + QStringLiteral(" (") + NowText() + QStringLiteral(")");
}

QString firstLine(bool daily, bool constant) {
    if (daily)
        return withNow(QStringLiteral("Iniciando ciclo de descarga automática diaria"));
    if (constant)
        return withNow(QStringLiteral("Iniciando ciclo de descarga automática constante"));
    return withNow(QStringLiteral("Iniciando ciclo de descarga manual"));
}

// Switches a trigger on again however its handler ends.
class Rearm {
public:
    explicit Rearm(QTimer& timer) : m_timer(timer) {}
    ~Rearm() { m_timer.start(); }

private:
    QTimer& m_timer;
};
} // namespace

void setCycleIntervals(CycleTimers timers, int constantSeconds, int stepMilliseconds) {
    timers.dailyTimer.setInterval(kDailyCheckMs);
    timers.constantTimer.setInterval(constantSeconds * 1000);
    // The constant trigger counts whole seconds: a coarse timer could drift by 5 %.
    timers.constantTimer.setTimerType(Qt::PreciseTimer);
    for (QTimer* step : {&timers.downloadStepTimer, &timers.downloadEndTimer, &timers.syncStepTimer,
                         &timers.syncEndTimer})
        step->setInterval(stepMilliseconds);
}

OwnedCycleTimers::OwnedCycleTimers(int constantSeconds, int stepMilliseconds) {
    setCycleIntervals(timers(), constantSeconds, stepMilliseconds);
}

CycleTimers OwnedCycleTimers::timers() {
    return {dailyTimer,       constantTimer, downloadStepTimer,
            downloadEndTimer, syncStepTimer, syncEndTimer};
}

CollectionCycles::CollectionCycles(CycleTimers timers, TDataSet& points, CycleControls& controls,
                                   PointWork& work, StationReport& report)
    : m_timers(timers), m_points(points), m_controls(controls), m_work(work), m_report(report) {
    m_pumpTurn.setSingleShot(true);
    m_pumpTurn.setInterval(0);
    QObject::connect(&m_pumpTurn, &QTimer::timeout, [this] { pumpSlots(); });
}

CollectionCycles::~CollectionCycles() = default;

bool CollectionCycles::running() const {
    return m_points.Active();
}

void CollectionCycles::setHealth(HealthKeeper* keeper) {
    m_observers.removeAll(m_health);
    m_health = keeper;
    if (keeper)
        m_observers << keeper;
}

// --- triggers ---

// Seconds are ignored: the first tick in the minute hh:mm starts the daily
// cycle, at most once in that minute. Another cycle still running clears the
// flag, so that a later tick of the same minute may start it once that one
// ends; but a minute whose daily cycle has started never starts a second one,
// whatever ran in between.
void CollectionCycles::dailyTick() {
    m_timers.dailyTimer.stop();
    Rearm again(m_timers.dailyTimer);
    guard([this] {
        m_controls.blinkDailyIndicator();
        const QDateTime now = currentDateTime();
        const QTime daily = m_controls.dailyTime();
        const QDateTime minute(now.date(), QTime(now.time().hour(), now.time().minute()));
        if (now.time().hour() != daily.hour() || now.time().minute() != daily.minute())
            m_dailyDone = false;
        else if (running())
            m_dailyDone = false;
        else if (!m_dailyDone && minute != m_dailyStarted) {
            m_dailyDone = true;
            m_dailyStarted = minute;
            startDownloadCycle(Trigger::Daily, {});
        }
    });
}

// Off during its own cycle: the end of the cycle switches it on again, so the
// interval counts from the end of one cycle to the start of the next.
void CollectionCycles::constantTick() {
    m_timers.constantTimer.stop();
    if (running()) {
        m_timers.constantTimer.start();
        return;
    }
    guard([this] { startDownloadCycle(Trigger::Constant, {}); });
    // A cycle that could not start leaves the trigger on, so the next interval tries again.
    if (!running())
        rearmConstant();
}

void CollectionCycles::startManualFromControls() {
    startManual(m_controls.manualPath(), m_controls.manualOverwrite());
}

void CollectionCycles::startManual(const QString& path, bool overwrite) {
    if (running())
        return;
    if (path.isEmpty()) {
        m_report.statusText(kManualFileNeeded);
        return;
    }
    guard([&] { startDownloadCycle(Trigger::Manual, ManualOutput{path, overwrite}); });
}

void CollectionCycles::startSync() {
    if (running())
        return;
    guard([this] {
        m_cancel = false;
        const bool rows =
            openPoints(withNow(QStringLiteral("Iniciando ciclo de sincronización manual")));
        tell([](CycleObserver& o) { o.cycleStarted(CycleKind::Sync, CycleTrigger::Manual); });
        if (rows && syncSideBySide())
            return;
        (rows ? m_timers.syncStepTimer : m_timers.syncEndTimer).start();
    });
}

void CollectionCycles::startNow() {
    if (running())
        return;
    guard([this] { startDownloadCycle(Trigger::Now, {}); });
}

// The point in hand is finished; the next step ends the cycle.
void CollectionCycles::cancel() {
    m_cancel = true;
    // Fetches side by side: none starts any more, those in progress finish.
    if (m_fetchSlots)
        pumpSoon();
    // Pushes side by side: none starts any more, those in progress finish.
    if (m_pushSlots && m_pushSlots->busy())
        m_pushSlots->cancel();
}

// A wait the stop ended: no error of the point's.
bool CollectionCycles::cutShort(const std::exception& error) {
    return dynamic_cast<const EAbortError*>(&error) || dynamic_cast<const ESockError*>(&error);
}

void CollectionCycles::stop() {
    cancel();
    m_stopping = true;
    if (m_pushSlots)
        m_pushSlots->halt();
    if (m_fetchSlots)
        m_fetchSlots->halt();
}

void CollectionCycles::startDownloadCycle(Trigger trigger, const ManualOutput& manual) {
    m_output = CycleOutput{};
    // The start date names the file for the whole cycle, also past midnight.
    m_output.path = trigger == Trigger::Manual ? manual.path
                                               : automaticOutputPath(m_controls.automaticPrefix(),
                                                                     currentDateTime().date());
    m_output.overwrite = trigger == Trigger::Manual && manual.overwrite;
    m_cancel = false;
    m_everyPoint = trigger == Trigger::Manual || trigger == Trigger::Now;
    m_retries.clear();
    m_retryPhase = false;
    const bool rows =
        openPoints(firstLine(trigger == Trigger::Daily, trigger == Trigger::Constant));
    tell([trigger](CycleObserver& o) { o.cycleStarted(CycleKind::Download, trigger); });
    if (rows && downloadSideBySide())
        return;
    (rows ? m_timers.downloadStepTimer : m_timers.downloadEndTimer).start();
}

// Opens the points (the cycle now runs), reads their rows once and writes the
// first memo line. Answers whether there is a first row. A failure leaves the
// cycle not running.
bool CollectionCycles::openPoints(const QString& line) {
    m_points.Open();
    try {
        m_report.memoClear();
        memoLine(line);
        const bool rows = m_points.RecordCount() > 0;
        if (rows)
            m_points.First();
        return rows;
    } catch (...) {
        closePoints();
        throw;
    }
}

// --- download cycle ---

void CollectionCycles::downloadStep() {
    m_timers.downloadStepTimer.stop();
    if (!running())
        return;
    if (m_cancel) {
        m_timers.downloadEndTimer.start();
        return;
    }
    // The same point is tried again until the FTP client has let go.
    if (m_work.ftpConnected()) {
        m_timers.downloadStepTimer.start();
        return;
    }
    if (m_retryPhase) {
        const PointRow row = m_retries.takeFirst();
        visitPoint(row, true);
        (m_retries.isEmpty() ? m_timers.downloadEndTimer : m_timers.downloadStepTimer).start();
        return;
    }
    visitForDownload();
    advanceDownload();
}

// After the last row, the points that failed for a reset or a time-out get
// their one more try.
void CollectionCycles::advanceDownload() noexcept {
    const bool more = nextRow();
    m_retryPhase = !more && !m_retries.isEmpty();
    (more || m_retryPhase ? m_timers.downloadStepTimer : m_timers.downloadEndTimer).start();
}

// False for an inactive row. Raises when the row cannot be read.
bool CollectionCycles::readRow(PointRow& row) {
    if (!m_points.FieldByName(QStringLiteral("Activo")).AsBoolean())
        return false;
    row.ip = m_points.FieldByName(QStringLiteral("IP")).AsString();
    row.desc = m_points.FieldByName(QStringLiteral("Desc")).AsString();
    row.loc = m_points.FieldByName(QStringLiteral("Loc")).AsString();
    return true;
}

bool CollectionCycles::currentRow(PointRow& row) noexcept {
    try {
        return readRow(row);
    } catch (const std::exception& error) {
        guard([&] { m_report.showError(error); });
        return false;
    }
}

// A point that keeps failing may be passed over (back-off): its fetch time-out
// and push time-out are then not spent on it in this cycle.
void CollectionCycles::visitForDownload() {
    PointRow row;
    if (currentRow(row) && dueNow(row))
        visitPoint(row, false);
}

bool CollectionCycles::dueNow(const PointRow& row) noexcept {
    bool due = true;
    guard([&] { due = !m_health || m_health->due(row.ip, m_everyPoint); });
    if (!due)
        guard([&] {
            memoLine(QStringLiteral("   ") + row.desc +
                     QStringLiteral("... en espera: falla seguido, se intenta más adelante"));
        });
    return due;
}

// An error that escapes the download or the closing after it is shown and
// ends the visit of that point; the cycle goes on with the next one.
void CollectionCycles::visitPoint(const PointRow& row, bool retry) {
    const PointVisit starting{row.ip, row.desc, row.loc, {}};
    tell([&](CycleObserver& o) { o.pointStarted(starting); });
    bool storing = false;
    try {
        storing = true;
        m_work.Descargar(row.ip, row.desc, row.loc, m_output);
        storing = false;
        m_work.closeFtp();
    } catch (const std::exception& error) {
        if (m_stopping && cutShort(error)) {
            closeFtpQuietly();
            return;
        }
        pointFailed(storing, error);
        if (!m_stopping)
            recordOutcome(row, PointOutcome{true, false, QString::fromUtf8(error.what())}, retry);
        return;
    } catch (...) {
        pointFailed(storing, Exception(QStringLiteral("Unknown error")));
        recordOutcome(row, PointOutcome{true, false, QStringLiteral("error desconocido")}, retry);
        return;
    }
    if (!m_stopping)
        synchronise(row);
    closeFtpQuietly();
    if (!m_stopping)
        recordOutcome(row, m_work.outcome(), retry);
}

void CollectionCycles::recordOutcome(const PointRow& row, const PointOutcome& outcome,
                                     bool retry) noexcept {
    // A point another station collects now is tried once more at the end of
    // the cycle: the other station's visit is over by then, as a rule.
    if (!retry && outcome.elsewhere) {
        m_retries << row;
        return;
    }
    if (!outcome.known)
        return;
    // A transient failure waits for its retry before it counts.
    if (!retry && !outcome.ok && outcome.transient && m_health && m_health->policy().retry) {
        m_retries << row;
        return;
    }
    const PointVisit visit{row.ip, row.desc, row.loc, outcome};
    tell([&](CycleObserver& o) { o.pointVisited(visit); });
}

void CollectionCycles::pointFailed(bool lineOpen, const std::exception& error) noexcept {
    closeFtpQuietly();
    guard([&] {
        // The storing stopped mid-line: end that line so the next point has its own.
        if (lineOpen)
            m_report.memoAppend(kLineEnd);
        m_report.showError(error);
    });
}

void CollectionCycles::endDownload() {
    m_timers.downloadEndTimer.stop();
    m_fetchSlots.reset();
    closePoints();
    guard([this] {
        memoLine(withNow(m_cancel ? QStringLiteral("Ciclo de descarga cancelado")
                                  : QStringLiteral("Ciclo de descarga finalizado")));
    });
    tell([this](CycleObserver& o) { o.cycleEnded(CycleKind::Download, m_cancel); });
    rearmConstant();
}

// --- synchronisation-only cycle ---

void CollectionCycles::syncStep() {
    m_timers.syncStepTimer.stop();
    if (!running())
        return;
    if (m_cancel) {
        m_timers.syncEndTimer.start();
        return;
    }
    synchronisePoint();
    advance(m_timers.syncStepTimer, m_timers.syncEndTimer);
}

void CollectionCycles::endSync() {
    m_timers.syncEndTimer.stop();
    closePoints();
    guard([this] {
        memoLine(withNow(m_cancel ? QStringLiteral("Ciclo de sincronización cancelado")
                                  : QStringLiteral("Ciclo de sincronización finalizado")));
    });
    tell([this](CycleObserver& o) { o.cycleEnded(CycleKind::Sync, m_cancel); });
}

// --- shared parts ---

// The push reports its own failures; anything that still escapes it, or the
// reading of the row, is swallowed and the cycle goes on.
void CollectionCycles::synchronisePoint() noexcept {
    PointRow row;
    try {
        if (!readRow(row))
            return;
    } catch (...) {
        return;
    }
    const PointVisit starting{row.ip, row.desc, row.loc, {}};
    tell([&](CycleObserver& o) { o.pointStarted(starting); });
    synchronise(row);
}

void CollectionCycles::synchronise(const PointRow& row) noexcept {
    bool ok = false;
    try {
        m_work.sincronizarPar(row.ip, row.desc, row.loc);
        ok = m_work.lastPushOk();
    } catch (...) {
    }
    const ListsPush push{row.ip, row.desc, row.loc, ok};
    tell([&](CycleObserver& o) { o.listsPushed(push); });
}

void CollectionCycles::closeFtpQuietly() noexcept {
    try {
        m_work.closeFtp();
    } catch (...) {
    }
}

// Moves to the next row and arms the next step, or the end after the last row.
// A table that cannot move ends the cycle rather than leave it without a timer.
void CollectionCycles::advance(QTimer& step, QTimer& end) noexcept {
    (nextRow() ? step : end).start();
}

bool CollectionCycles::nextRow() noexcept {
    try {
        m_points.Next();
        return !m_points.Eof();
    } catch (...) {
        return false;
    }
}

void CollectionCycles::closePoints() noexcept {
    try {
        m_points.Close();
    } catch (...) {
    }
}

void CollectionCycles::memoLine(const QString& text) {
    m_report.memoAppend(text + kLineEnd);
}

// No effect when it is already on: its countdown is not restarted.
void CollectionCycles::rearmConstant() {
    if (m_controls.constantOn() && !m_timers.constantTimer.isActive())
        m_timers.constantTimer.start();
}

void connectCycleTimers(CollectionCycles& cycles, CycleTimers timers, QObject* context) {
    QObject::connect(&timers.dailyTimer, &QTimer::timeout, context,
                     [&cycles] { cycles.dailyTick(); });
    QObject::connect(&timers.constantTimer, &QTimer::timeout, context,
                     [&cycles] { cycles.constantTick(); });
    QObject::connect(&timers.downloadStepTimer, &QTimer::timeout, context,
                     [&cycles] { cycles.downloadStep(); });
    QObject::connect(&timers.downloadEndTimer, &QTimer::timeout, context,
                     [&cycles] { cycles.endDownload(); });
    QObject::connect(&timers.syncStepTimer, &QTimer::timeout, context,
                     [&cycles] { cycles.syncStep(); });
    QObject::connect(&timers.syncEndTimer, &QTimer::timeout, context,
                     [&cycles] { cycles.endSync(); });
}
