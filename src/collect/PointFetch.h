#pragma once

#include "collect/PointRun.h"

#include <memory>
#include <optional>

class RunOutput;

// The fetch of one point: connecting, the two downloads, the files' verdict,
// the run's start (its recovery state saved, its output file open) and the
// delete; and the FTP client's event handlers with the flag they raise.
class PointFetch {
public:
    explicit PointFetch(PointRun& run); // the FTP client's handlers are connected
    ~PointFetch();                      // and taken back
    PointFetch(const PointFetch&) = delete;
    PointFetch& operator=(const PointFetch&) = delete;

    // The fetch step: the run's output file, open, when both local files are
    // in place and flushed, the run's recovery state is saved, and the point
    // has been asked to delete when the files allow it; none when the point
    // failed (reported) and nothing of it was stored or deleted.
    std::unique_ptr<RunOutput> descargarArchivos(const QString& IP, const QString& Desc,
                                                 const QString& Loc, const QString& lease,
                                                 CycleOutput& output);

    // The FTP client's events: a time-out's status cancels the transfer, a
    // packet tells the transfer's progress, a failure is reported and flagged.
    void ftpStatus(TTcpSock* sender, const QString& status);
    void packetReceived(TTcpSock* sender);
    void ftpFailed(bool& handled, TCmdType command);

private:
    // What the fetched files allow: the point is asked to delete only when
    // every record it holds is among those stored.
    struct FilesVerdict {
        bool deleteIt = true;
        QString keptWhy; // reported when the point keeps its records
    };

    bool connectTo(const QString& IP, const QString& Desc);
    QString pointKey(const QString& IP) const;
    bool downloadFiles();
    FilesVerdict judgeFiles(const QString& point, int skip);
    FilesVerdict judgeTail(const QString& point, int count);
    int countAgain();
    void disconnectQuietly();
    void startRun(const QString& point, const QString& Loc, const QString& lease,
                  CycleOutput& output);
    std::optional<PendingDelete> matchedEntry(const QList<PendingDelete>& entries, int count);
    void updatePending(RunRecord& run);
    bool openRunOutput();
    bool filesStillTheRuns(const QString& Loc);
    void sendDelete();
    void reportKept(const QString& Loc, const QString& why);
    void flushLocalFiles();

    PointRun& m_run;
    const PointSetup& m;
    RunState& m_state;
    PointOutcome& m_outcome;
    bool m_ftpFailed = false;         // the FTP client reported a failure since it was cleared
    QString m_desc;                   // the point being fetched, as its progress names it
    std::unique_ptr<RunOutput> m_out; // opened before the run's state is saved
    std::optional<int> m_count;       // of the fetched count file; none when unreadable
    FilesVerdict m_verdict;           // of the fetched files
};
