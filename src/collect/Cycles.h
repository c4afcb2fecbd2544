#pragma once

#include "collect/FetchSlots.h"
#include "collect/PointWork.h"
#include "collect/StationEvents.h"
#include "collect/StationReport.h"

#include "platform/Errors.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QTime>
#include <QTimer>
#include <memory>

class HealthKeeper;

// The output of a download started by hand: "Archivo:" and "Sobrescribir".
struct ManualOutput {
    QString path;
    bool overwrite = false;
};
class QObject;
class TDataSet;

// What the cycles read from the window's controls when they start, and the
// daily trigger's indicator. A service without a window answers from its
// settings instead.
class CycleControls {
public:
    virtual ~CycleControls() = default;
    virtual QTime dailyTime() const = 0;         // dtpHora: hours and minutes count
    virtual bool constantOn() const = 0;         // cbAutoMin
    virtual QString automaticPrefix() const = 0; // eFileAuto
    virtual QString manualPath() const = 0;      // eFileMan
    virtual bool manualOverwrite() const = 0;    // cbErase
    virtual void blinkDailyIndicator() {}        // sAuto: lime and silver in turn
};

// Told what the cycles do, as it happens. The health keeper is one (it
// records each visit); a station core that tells its faces is another.
class CycleObserver {
public:
    virtual ~CycleObserver() = default;
    virtual void cycleStarted(CycleKind, CycleTrigger) {}
    virtual void pointStarted(const PointVisit&) {} // its outcome not known yet
    virtual void pointVisited(const PointVisit&) {}
    virtual void listsPushed(const ListsPush&) {}
    virtual void cycleEnded(CycleKind, bool /*cancelled*/) {}
};

// The six timers of the cycles, owned elsewhere (the window's tAuto, tAutoMin,
// TimerFTP, TimerFTPend, TimerSinc and TimerSincEnd): the two triggers (daily
// every 5 s, constant every N seconds) and the four 500 ms step and end timers.
struct CycleTimers {
    QTimer& dailyTimer;
    QTimer& constantTimer;
    QTimer& downloadStepTimer;
    QTimer& downloadEndTimer;
    QTimer& syncStepTimer;
    QTimer& syncEndTimer;
};

// The status text of "&Descargar" with no file named for the manual cycle.
inline const QString kManualFileNeeded =
    QStringLiteral("Indique en \"Archivo:\" el archivo de la descarga manual.");

// The interval of the four step and end timers of the cycles, and how often
// the daily trigger looks at the clock.
constexpr int kCycleStepMs = 500;
constexpr int kDailyCheckMs = 5000;

// Gives the six timers their intervals: the constant trigger every
// constantSeconds, the steps every stepMilliseconds.
void setCycleIntervals(CycleTimers timers, int constantSeconds,
                       int stepMilliseconds = kCycleStepMs);

// The six timers with their intervals, for a user without a window of its own.
class OwnedCycleTimers {
public:
    explicit OwnedCycleTimers(int constantSeconds = 60, int stepMilliseconds = kCycleStepMs);
    CycleTimers timers();

    QTimer dailyTimer, constantTimer, downloadStepTimer, downloadEndTimer, syncStepTimer,
        syncEndTimer;
};

// The collection and synchronisation cycles. A cycle visits the rows of the
// registration-point table one per step tick; the table is open exactly while
// a cycle runs and is the only running marker. Its rows are read once when the
// cycle starts, so an edit of the table during a cycle counts from the next one.
// Every tick switches its own timer off first and never lets an error out:
// what escapes is shown through StationReport::showError.
class CollectionCycles {
public:
    // points: the registration-point table (the window's tPrIP).
    CollectionCycles(CycleTimers timers, TDataSet& points, CycleControls& controls, PointWork& work,
                     StationReport& report);
    ~CollectionCycles(); // waits for the pushes in progress

    // The daily trigger's look at the clock, and the constant trigger.
    void dailyTick();
    void constantTick();
    // What the three buttons ask for: a download cycle into the file the
    // controls name ("&Descargar"), a sync cycle ("Solo &sincronizar"), and
    // the end of the running cycle after the point in hand ("Cancelar").
    void startManualFromControls();
    void startSync();
    void cancel();
    // The program stops: the cycle ends after the point in hand, which is
    // neither pushed to nor counted in its health (its waits are cut short).
    void stop();
    // A download cycle now, by hand, into the automatic cycles' file of the
    // day: what a service is asked for without a window ("--once").
    void startNow();
    // A download cycle now into the given file, emptied first when asked:
    // "&Descargar" with the values a window gives.
    void startManual(const QString& path, bool overwrite);
    // Steps and ends of the two kinds of cycle.
    void downloadStep();
    void endDownload();
    void syncStep();
    void endSync();

    // Which decides whether a cycle tries a point that keeps failing (and
    // records each visit). May be none.
    void setHealth(HealthKeeper* keeper);
    // Told each start, visit, push and end.
    void addObserver(CycleObserver* observer) { m_observers << observer; }

    bool running() const;
    bool cancelRequested() const { return m_cancel; }
    bool dailyDone() const { return m_dailyDone; }
    // The output of the running (or last) download cycle.
    const CycleOutput& output() const { return m_output; }

private:
    using Trigger = CycleTrigger;

    void startDownloadCycle(Trigger trigger, const ManualOutput& manual);
    template <typename Call> void tell(Call&& call) noexcept;
    bool openPoints(const QString& firstLine);
    // A row of the points table as a visit needs it.
    using PointRow = PushTarget;
    bool readRow(PointRow& row);
    bool currentRow(PointRow& row) noexcept; // false: inactive, or unreadable (shown)
    void visitForDownload();
    bool dueNow(const PointRow& row) noexcept; // false: passed over (said in the memo)
    void visitPoint(const PointRow& row, bool retry);
    void recordOutcome(const PointRow& row, const PointOutcome& outcome, bool retry) noexcept;
    void pointFailed(bool lineOpen, const std::exception& error) noexcept;
    void synchronisePoint() noexcept;
    void synchronise(const PointRow& row) noexcept;
    bool syncSideBySide();
    QList<PushTarget> activeTargets(const QString& repeated) noexcept;
    void pushed(const PushTarget& target, bool ok) noexcept;
    void pointsInProgress() noexcept; // on the status line
    // A download cycle above one point at once.
    bool downloadSideBySide();
    void pumpSlots() noexcept;
    void pumpSoon();
    QString withPointsInProgress(const QString& text) const;
    bool startNextFetch() noexcept;
    void storeFetched(int slot, const FetchedFiles& files, const QList<SaidText>& said) noexcept;
    void fetchPushed(int slot, bool ok) noexcept;
    void advanceDownload() noexcept;
    void closeFtpQuietly() noexcept;
    void advance(QTimer& step, QTimer& end) noexcept;
    bool nextRow() noexcept; // false after the last row, or when the table cannot move
    void closePoints() noexcept;
    void memoLine(const QString& text);
    void rearmConstant();
    template <typename Handler> void guard(Handler&& handler) noexcept;

    CycleTimers m_timers;
    TDataSet& m_points;
    CycleControls& m_controls;
    PointWork& m_work;
    StationReport& m_report;

    bool m_cancel = false; // fCancelar
    bool m_stopping = false;
    static bool cutShort(const std::exception& error);
    bool m_dailyDone = false; // fAutoHecho
    QDateTime m_dailyStarted; // the minute of the last daily start
    CycleOutput m_output;     // archivoSalida and fSobrescribir
    HealthKeeper* m_health = nullptr;
    QList<CycleObserver*> m_observers;
    bool m_everyPoint = false; // a cycle started by hand tries every active point
    QList<PointRow> m_retries; // transient failures, tried once more after the last row
    bool m_retryPhase = false;
    std::unique_ptr<PushSlots> m_pushSlots; // a sync cycle above one point at once

    // A point of a download cycle side by side, from its start to its push.
    struct SlotPoint {
        PointRow row;
        bool retry = false;
        QString lease;
        PointOutcome outcome;
        bool pushTold = true; // its push is said in the memo and the log
    };
    struct Fetched {
        int slot = 0;
        FetchedFiles files;
        QList<SaidText> said;
    };
    std::unique_ptr<FetchSlots> m_fetchSlots;
    QList<PointRow> m_toFetch;
    QHash<int, SlotPoint> m_inSlot;
    QList<Fetched> m_fetched;             // in the order the fetches finished
    QList<std::pair<int, bool>> m_pushed; // slot and push told, in the order they ended
    ParamBatch m_batch;
    bool m_pumping = false;
    // The pump's next turn: a timer, so that the loop's other timers (a
    // window's, a watchdog's) fall due between two turns.
    QTimer m_pumpTurn;
    bool m_slotsEnding = false;
};

// An observer's error is shown and goes no further.
template <typename Call> inline void CollectionCycles::tell(Call&& call) noexcept {
    for (CycleObserver* observer : std::as_const(m_observers))
        guard([&] { call(*observer); });
}

template <typename Handler> inline void CollectionCycles::guard(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        m_report.showError(error);
    } catch (...) {
        m_report.showError(Exception(QStringLiteral("Unknown error")));
    }
}

// Connects the six timers to the cycles' ticks (a user without a
// window; the main window connects its own named handlers).
void connectCycleTimers(CollectionCycles& cycles, CycleTimers timers, QObject* context);
