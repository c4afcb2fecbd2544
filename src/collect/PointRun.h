#pragma once

#include "collect/LeaseKeeper.h"
#include "collect/PointWork.h"
#include "collect/RunState.h"
#include "collect/SettingsCodec.h"
#include "collect/StationReport.h"
#include "collect/Ticket.h"
#include "net/FtpClient.h"
#include "net/TcpSock.h"
#include "store/DataSet.h"

#include <functional>

// The status text when a local or server table cannot be opened.
inline const QString kNoAccess =
    QStringLiteral("ERROR: no se puede tener acceso a la base de datos.");

// What one registration point's work needs from its owner (the station core,
// a test or a benchmark): the two network components, the report channel, the
// alias names and the FTP time-out setting. The recovery state is the work's
// own (a file of its own, RunState); keyRun gives what the settings key holds
// of a run flagged by an older station, and clearKeyRun clears it once adopted
// (raising when that cannot be saved). Both may be empty.
struct PointSetup {
    TFtpClient& ftp;
    TTcpSock& sock;
    StationReport& report;
    QString localAlias;
    QString serverAlias;
    std::function<int()> ftpTimeOut; // milliseconds
    std::function<StationSettings()> keyRun = {};
    std::function<void()> clearKeyRun = {};
    QString statePath = {};                 // empty: RunState::defaultPath()
    std::function<int()> pointsAtOnce = {}; // "Puntos a la vez"; empty: 1
};

// A named step of a run ("before-delete", "record", "between-commits", ...),
// where tests stop or fail it; record is the record index or -1.
using StepProbe = std::function<void(const char* step, int record)>;

// The tables a point's work writes, bound to the owner's aliases: opened and
// closed before a visit, so that a table out of reach fails the point before
// anything is fetched.
struct PointTables {
    PointTables(const QString& localAlias, const QString& serverAlias);
    TTable tLectura, tLecturaBAK, torRegAsist, tLog;
};

// The run's local copies as its state names them: the files missing, and
// whether one that is there holds other bytes than the run's.
QStringList missingRunFiles(const RunRecord& run);
bool runFilesDiffer(const RunRecord& run);
inline bool runFilesMatch(const RunRecord& run) {
    return missingRunFiles(run).isEmpty() && !runFilesDiffer(run);
}

// Points the run at the cycle's output file: emptied once in a cycle that
// overwrites, appended to otherwise ("*" when it held lines of earlier runs).
void setRunOutput(RunRecord& run, CycleOutput& output);

// What the parts of one point's work share: the owner's setup, the recovery
// state with the run in hand, how the visit is going, the tables, the point's
// lease and the named steps. Whatever a part changes here, the others see.
class PointRun {
public:
    explicit PointRun(PointSetup setup);
    PointRun(const PointRun&) = delete;
    PointRun& operator=(const PointRun&) = delete;

    const PointSetup& setup() const { return m; }
    bool serverOn() const;
    int pointsAtOnce() const { return m.pointsAtOnce ? m.pointsAtOnce() : 1; }
    PointTables& tables() { return m_tables; }
    LeaseKeeper& leases() { return m_leases; }

    // The recovery state; loadState() reads it from its file when it has not
    // been read yet, and raises when it cannot be.
    RunState& state() { return m_state; }
    bool stateLoaded() const { return m_stateLoaded; }
    const RunState& loadState();
    // Saves the state (a named step, "save-state"). Raises.
    void saveState();
    // Saves the state; when that fails the memory goes back to what the disk
    // holds, and so does the cycle's emptied mark. Raises.
    void saveStateOrRevert(const RunState& before, CycleOutput& output, bool emptiedBefore);
    // A run that stored nothing and deleted nothing is forgotten, and the
    // point's entry is as it was before it; its lease goes. Raises when the
    // state cannot be saved.
    void giveUpRun();

    // How the visit goes, as the cycles are told.
    PointOutcome& outcome() { return m_outcome; }
    const PointOutcome& outcome() const { return m_outcome; }
    void pointFailed(const QString& why, bool transient = false);
    void reportProblem(const QString& text); // status line and log row

    void setProbe(StepProbe probe) { m_probe = std::move(probe); }
    void step(const char* name, int record = -1) const {
        if (m_probe)
            m_probe(name, record);
    }

private:
    PointSetup m;
    RunState m_state;
    bool m_stateLoaded = false;
    PointOutcome m_outcome;
    PointTables m_tables;
    LeaseKeeper m_leases;
    StepProbe m_probe;
};
