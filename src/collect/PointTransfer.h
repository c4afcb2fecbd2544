#pragma once

#include "collect/StationReport.h"
#include "net/FtpClient.h"

#include <QString>
#include <optional>

// After a time-out, how long the goodbye to a point waits for its reply when
// more than one point is in progress at once.
constexpr int kGoodbyeAfterTimeOutMs = 2000;

// Why the FTP connection to a point could not be used, as the visit records it.
struct ConnectFailure {
    QString why; // for a person, in the health table and the journal
    bool transient = false;
    int errorCode = 0;      // Winsock numbering; 0: none
    bool unreached = false; // the connection itself could not be established
};

// What the network half of a fetch brought, for the run's second half.
struct FetchedFiles {
    std::optional<ConnectFailure> failure; // the log-in failed
    bool filesOk = false;                  // both local files are in and on the disk
    std::optional<int> count;              // of the count file; none when unreadable
    int recount = -1; // the count read again when the record file holds more; -1: not read
    quint32 peer = 0; // the control connection's peer address
    QString folder;   // where the local copies are
};

// The point's connection as the second half of a fetch uses it, once the
// files are in: the count read again, the delete, and the goodbye.
class PointLink {
public:
    virtual ~PointLink() = default;
    // The count read once more; -1 when it cannot be.
    virtual int countAgain() = 0;
    // Asks the point to delete every record it holds; true when confirmed.
    virtual bool sendDelete() = 0;
    // The run needs the point no more.
    virtual void letGo() = 0;
};

// The network half of a point's fetch, on the thread its FTP client lives on:
// the log-in, the two downloads into a folder, the count read again, the
// delete and the goodbye, with the FTP client's event handlers and the texts
// they say. What the files allow and what is stored is decided elsewhere.
class PointTransfer : public PointLink {
public:
    // folder: where the local copies go; empty: the working directory.
    PointTransfer(TFtpClient& ftp, StationReport& report, QString folder = {});
    ~PointTransfer(); // the handlers are taken back
    PointTransfer(const PointTransfer&) = delete;
    PointTransfer& operator=(const PointTransfer&) = delete;

    // Logs in (the texts of the attempt said); none when it succeeded.
    // goodbyeMs: how long the goodbye after a time-out waits (0: the time-out).
    std::optional<ConnectFailure> connectTo(const QString& IP, const QString& Desc, int timeOutMs,
                                            int goodbyeMs);
    // The log-in, the two downloads and, when the record file holds more
    // than the count, the count read again; the connection stays open when
    // the files are in, and is closed otherwise.
    FetchedFiles fetch(const QString& IP, const QString& Desc, int timeOutMs, int goodbyeMs);
    // The control connection's peer address; 0 when there is none.
    quint32 peer() const;
    // The count file, then the record file unless the count is 0; true when
    // no step failed or was reported failed, and both are on the disk.
    bool downloadFiles();
    // Of the last count file fetched; none when it was unreadable.
    std::optional<int> count() const { return m_count; }
    // The count read into a file of its own, beside the local copies.
    int countAgain() override;
    bool sendDelete() override;
    void letGo() override { disconnectQuietly(); }
    void disconnectQuietly();

    QString countFile() const;
    QString recordFile() const;

private:
    void ftpStatus(const QString& status);
    void packetReceived();
    void ftpFailed(bool& handled, TCmdType command);
    QString local(const QString& name) const;

    TFtpClient& m_ftp;
    StationReport& m_report;
    QString m_folder;
    bool m_ftpFailed = false; // the FTP client reported a failure since it was cleared
    std::optional<int> m_count;
    QString m_desc; // the point being fetched, as its progress names it
};
