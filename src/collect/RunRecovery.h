#pragma once

#include "collect/PointRun.h"

#include <memory>
#include <optional>

class RunOutput;
class StoringRun;

// The run left unfinished, as an operator is told of it before giving it up.
struct UnfinishedRun {
    QString runId, loc;
    int tickets = -1; // still to store; -1: not known
};

// What the operator is asked before an unfinished run is given up.
QString abandonQuestion(const UnfinishedRun& run);

// Recovery: an interrupted run stored from its local copies before anything
// else is fetched, copies that are not the run's own set aside, the output
// file a recovery writes chosen, a run an older station flagged in the
// settings key adopted, output lines kept aside reported, and a run the
// operator gives up abandoned.
class RunRecovery {
public:
    RunRecovery(PointRun& run, StoringRun& store);

    // Stores the unfinished run, or says why it cannot be stored yet.
    void recoverRun(CycleOutput& output);
    // Side files still waiting for the operator, once per cycle.
    void reportSideFiles(CycleOutput& output);
    // A run an older station flagged in the settings key becomes this
    // station's own, once.
    void adoptKeyRun(CycleOutput& output);

    // The unfinished run, if any; raises when the state cannot be read.
    std::optional<UnfinishedRun> unfinishedRun();
    // The operator gives up the unfinished run whose id begins with runId:
    // its records are not stored (they may be only in its local copies), its
    // point's lease is let go, and the log names what was given up. Returns
    // the text said; raises when there is no such run or the state cannot be
    // saved.
    QString abandonRun(const QString& runId);

private:
    int ticketsOfRun(const RunRecord& run) const;
    void setAsideRun();
    void nameGivenUpLines(const RunRecord& run);
    std::unique_ptr<RunOutput> chooseRecoveryOutput(CycleOutput& output);
    void recoverIntoCycleOutput(CycleOutput& output);

    PointRun& m_run;
    StoringRun& m_store;
    const PointSetup& m;
    RunState& m_state;
};
