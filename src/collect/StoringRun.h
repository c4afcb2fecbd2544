#pragma once

#include "collect/PointRun.h"

#include <memory>

class RecordReader;
class RunOutput;
class StoreTransaction;
class TicketStatements;

// The storing run: the local copies of the run in hand stored, each record
// once, in lectura, lecturaBAK, the server table and the output file, on a
// thread of its own; then the run is marked finished and its lease released.
class StoringRun {
public:
    explicit StoringRun(PointRun& run);

    // Stores the run the recovery state names into out, its output file. A
    // recovery run says so in the log and the status line and leaves the
    // visit's outcome as it is. Raises when the run could not be stored: it
    // stays unfinished, to be stored again.
    void procesarDescarga(const QString& Loc, bool recoveryRun, std::unique_ptr<RunOutput> out);

private:
    // Which databases a storing run still writes (their journals lack the run).
    struct RunStores {
        bool local = false;
        bool server = false;
        bool oneDatabase = false; // both aliases name one database
    };
    // What the storing thread hands back.
    struct StoredRun {
        int count = 0;            // of the run's count file
        QList<qint32> badCards;   // codes whose card was stored as 0
        QString movedTo;          // the side file the lines were written to again
        bool heldDiffers = false; // the intended file holds lines that are not the run's
    };

    StoredRun storeRun(const QString& Loc, QChar decimal, RunOutput& out);
    int storeRecords(RecordReader& reader, int count, const QString& Loc, QChar decimal,
                     const RunStores& stores, TicketStatements& statements, RunOutput& out);
    void commitRun(const QString& Loc, int stored, const RunStores& stores, StoreTransaction& local,
                   StoreTransaction& server);
    void keepLinesReachable(RunOutput& out, StoredRun& result);
    void finishRun(const QString& Loc, const StoredRun& stored, bool recoveryRun);

    PointRun& m_run;
    const PointSetup& m;
    RunState& m_state;
    PointOutcome& m_outcome;
};
