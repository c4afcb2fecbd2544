#pragma once

#include "collect/PointRun.h"
#include "collect/PointTransfer.h"

#include <memory>
#include <optional>

class RunOutput;

// The fetch of one point: connecting, the two downloads, the files' verdict,
// the run's start (its recovery state saved, its output file open) and the
// delete. The network half is the point's transfer: the station's own FTP
// client, or, with points side by side, one on a thread of its own.
class PointFetch {
public:
    explicit PointFetch(PointRun& run);
    ~PointFetch();
    PointFetch(const PointFetch&) = delete;
    PointFetch& operator=(const PointFetch&) = delete;

    // The fetch step: the run's output file, open, when both local files are
    // in place and flushed, the run's recovery state is saved, and the point
    // has been asked to delete when the files allow it; none when the point
    // failed (reported) and nothing of it was stored or deleted.
    std::unique_ptr<RunOutput> descargarArchivos(const QString& IP, const QString& Desc,
                                                 const QString& Loc, const QString& lease,
                                                 CycleOutput& output);

    // The same step for files fetched elsewhere (into files.folder, over
    // link): they become the run's local copies in the working directory.
    std::unique_ptr<RunOutput> adoptFetched(const QString& IP, const QString& Loc,
                                            const QString& lease, CycleOutput& output,
                                            const FetchedFiles& files, PointLink& link);

    // The last fetch could not establish the FTP connection at all (refused,
    // unreachable, the connect timed out); a point that accepted and then
    // stayed silent was reached.
    bool unreached() const { return m_unreached; }

private:
    // What the fetched files allow: the point is asked to delete only when
    // every record it holds is among those stored.
    struct FilesVerdict {
        bool deleteIt = true;
        QString keptWhy; // reported when the point keeps its records
    };

    bool connectTo(const QString& IP, const QString& Desc);
    static QString pointKey(const QString& IP, quint32 peer);
    void connectFailed(const ConnectFailure& failure);
    void downloadFailed();
    std::unique_ptr<RunOutput> startAndDelete(const QString& point, const QString& Loc,
                                              const QString& lease, CycleOutput& output);
    FilesVerdict judgeFiles(const QString& point, int skip);
    FilesVerdict judgeTail(const QString& point, int count);
    void startRun(const QString& point, const QString& Loc, const QString& lease,
                  CycleOutput& output);
    std::optional<PendingDelete> matchedEntry(const QList<PendingDelete>& entries, int count);
    void updatePending(RunRecord& run);
    bool openRunOutput();
    bool filesStillTheRuns(const QString& Loc);
    void sendDelete();
    void reportKept(const QString& Loc, const QString& why);

    PointRun& m_run;
    const PointSetup& m;
    RunState& m_state;
    PointOutcome& m_outcome;
    PointTransfer m_transfer;    // over the station's own FTP client
    PointLink* m_link = nullptr; // of the fetch in hand
    bool m_unreached = false;
    std::unique_ptr<RunOutput> m_out; // opened before the run's state is saved
    std::optional<int> m_count;       // of the fetched count file; none when unreadable
    int m_recount = -1;               // read again where the files were fetched; -1: not
    FilesVerdict m_verdict;           // of the fetched files
};
