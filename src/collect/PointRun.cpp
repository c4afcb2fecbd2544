// What the parts of one point's work share: the recovery state and its
// saving, the outcome of the visit, the tables.
#include "collect/PointRun.h"

#include "store/Aliases.h"

#include <QFile>
#include <QFileInfo>

PointTables::PointTables(const QString& localAlias, const QString& serverAlias) {
    for (TTable* t : {&tLectura, &tLecturaBAK, &tLog})
        t->DatabaseName = localAlias;
    tLectura.TableName = QStringLiteral("lectura.DB");
    tLecturaBAK.TableName = QStringLiteral("lecturaBAK.db");
    tLog.TableName = QStringLiteral("log.DB");
    torRegAsist.DatabaseName = serverAlias;
    torRegAsist.TableName = QStringLiteral("dbo.tickettaxis");
}

QStringList missingRunFiles(const RunRecord& run) {
    QStringList missing;
    if (!QFile::exists(run.countFile()))
        missing << run.countFile();
    if (!run.recordSha256.isEmpty() && !QFile::exists(run.recordFile()))
        missing << run.recordFile();
    return missing;
}

// A copy that is there with other bytes than the run's: not the run's own.
bool runFilesDiffer(const RunRecord& run) {
    const auto differs = [](const QString& file, const QByteArray& sha) {
        return QFile::exists(file) && fileSha256(file) != sha;
    };
    return differs(run.countFile(), run.countSha256) ||
           (!run.recordSha256.isEmpty() && differs(run.recordFile(), run.recordSha256));
}

void setRunOutput(RunRecord& run, CycleOutput& output) {
    const QFileInfo out(output.path);
    const bool emptyIt = output.overwrite && !output.emptied;
    run.outputPath = out.absoluteFilePath();
    run.appendMark = !output.overwrite && out.exists();
    run.outputStart = emptyIt || !out.exists() ? 0 : out.size();
    run.outputFile.clear();
    if (output.overwrite)
        output.emptied = true;
}

PointRun::PointRun(PointSetup setup)
    : m(std::move(setup)), m_tables(m.localAlias, m.serverAlias), m_leases(*this) {}

bool PointRun::serverOn() const {
    return m.serverAlias != kNoServerAlias;
}

const RunState& PointRun::loadState() {
    if (!m_stateLoaded) {
        m_state = RunState::load(m.statePath.isEmpty() ? RunState::defaultPath() : m.statePath);
        m_stateLoaded = true;
    }
    return m_state;
}

void PointRun::saveState() {
    step("save-state");
    m_state.save();
}

void PointRun::saveStateOrRevert(const RunState& before, CycleOutput& output, bool emptiedBefore) {
    try {
        saveState();
    } catch (...) {
        m_state = before;
        output.emptied = emptiedBefore;
        throw;
    }
}

// The server's entry was not touched by the run given up.
void PointRun::giveUpRun() {
    const RunRecord run = m_state.run;
    if (m_state.pending.value(run.point).runId == run.runId)
        m_state.pending.remove(run.point);
    if (run.priorPending)
        m_state.pending.insert(run.point, *run.priorPending);
    m_state.unfinished = false;
    saveState();
    m_leases.release(run.lease, QString());
}

void PointRun::pointFailed(const QString& why, bool transient) {
    m_outcome = PointOutcome{true, false, why, 0, transient};
}

void PointRun::reportProblem(const QString& text) {
    m.report.statusText(text);
    m.report.logRow(text);
}
