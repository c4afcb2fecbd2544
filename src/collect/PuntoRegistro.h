#pragma once

#include "collect/ParamMessage.h"
#include "collect/PointWork.h"
#include "collect/RunState.h"
#include "collect/SettingsCodec.h"
#include "collect/StationReport.h"
#include "collect/Ticket.h"
#include "net/FtpClient.h"
#include "net/TcpSock.h"
#include "store/DataSet.h"

#include <functional>
#include <memory>
#include <optional>

class RunOutput;
class StoreTransaction;
class TicketStatements;

// The status text when a local or server table cannot be opened.
inline const QString kNoAccess =
    QStringLiteral("ERROR: no se puede tener acceso a la base de datos.");

// What one registration point's work needs from its owner (the main window or
// a service): the two network components, the report channels, the alias
// names and the FTP time-out setting. The recovery state is the work's own
// (a file of its own, RunState); keyRun gives what the settings key holds of
// a run flagged by an older station, and clearKeyRun clears it once adopted
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
    QString statePath = {}; // empty: RunState::defaultPath()
};

// One registration point's work: fetch its files, store each record exactly
// once in the two local tables, the server table and the output file, and
// push the parameter lists. Owns its data sets; widget-free.
class PointLeases;
struct PendingDelete;

// The run left unfinished, as an operator is told of it before giving it up.
struct UnfinishedRun {
    QString runId, loc;
    int tickets = -1; // still to store; -1: not known
};

// What the operator is asked before an unfinished run is given up.
QString abandonQuestion(const UnfinishedRun& run);

class PuntoRegistro : public PointWork {
public:
    explicit PuntoRegistro(PointSetup setup);
    ~PuntoRegistro() override; // the FTP client's handlers are taken back
    PuntoRegistro(const PuntoRegistro&) = delete;
    PuntoRegistro& operator=(const PuntoRegistro&) = delete;

    void Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                   CycleOutput& output) override;
    void sincronizarPar(const QString& IP, const QString& Desc, const QString& Loc) override;
    bool ftpConnected() const override;
    void closeFtp() override;
    PointOutcome outcome() const override { return m_outcome; }
    bool lastPushOk() const override { return m_pushOk; }

    // Handlers of the FTP client's events (connected by the constructor).
    void FtpClient1Status(TTcpSock* Sender, const QString& Status);
    void FtpClient1PacketRecvd(TTcpSock* Sender);
    void FtpClient1Failure(bool& Handled, TCmdType Trans_Type);

    // Adds the journals (and, with a server, the points' leases) to databases
    // made before them; raises a plain error.
    void ensureJournals();
    // The recovery state as last loaded or saved; loaded now when it was not.
    // Raises when it cannot be read.
    const RunState& state();

    // The unfinished run, if any; raises when the state cannot be read.
    std::optional<UnfinishedRun> unfinishedRun();
    // The operator gives up the unfinished run whose id begins with runId:
    // its records are not stored (they may be only in its local copies), its
    // point's lease is let go, and the log names what was given up. Returns
    // the text said; raises when there is no such run or the state cannot be
    // saved.
    QString abandonRun(const QString& runId);

    bool FalloFTP = false;
    QString DescActual;
    CrcRegister crc;

    // Named steps of a run ("before-delete", "record", "between-commits", ...);
    // tests stop or fail the run there. record is the record index or -1.
    std::function<void(const char* step, int record)> probe;

private:
    // What the fetched files allow: the point is asked to delete only when
    // every record it holds is among those stored.
    struct FilesVerdict {
        bool deleteIt = true;
        QString keptWhy; // reported when the point keeps its records
    };
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

    bool serverOn() const;
    bool tablesAccessible();
    bool loadState(const QString& Desc);
    // Saves the state; when that fails the memory goes back to what the disk
    // holds, and so does the cycle's emptied mark. Raises.
    void saveStateOrRevert(const RunState& before, CycleOutput& output, bool emptiedBefore);
    void saveState() {
        step("save-state");
        m_state.save();
    }
    void reportSideFiles(CycleOutput& output);
    void adoptKeyRun(CycleOutput& output);

    // PuntoRegistroLease.cpp: one station at a time collects a point.
    PointLeases* leases();
    bool takeLease(const QString& IP, const QString& Desc, QString& lease);
    bool leaseStillOurs();
    void releaseLease(const QString& lease, const QString& address);
    void tidyLeases();
    QList<PendingDelete> priorEntries(const QString& point);
    bool journalHolds(const QString& runId);

    // The fetch step: true when both local files are in place and flushed,
    // the run's recovery state is saved, its output file is open, and the
    // point has been asked to delete when the files allow it.
    bool descargarArchivos(const QString& IP, const QString& Desc, const QString& Loc,
                           const QString& lease, CycleOutput& output);
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
    void setRunOutput(RunRecord& run, CycleOutput& output) const;
    bool openRunOutput();
    void giveUpRun();
    bool filesStillTheRuns(const QString& Loc);
    void sendDelete();
    void reportKept(const QString& Loc, const QString& why);
    void flushLocalFiles();

    // Recovery of an interrupted run from its local copies.
    void recoverRun(CycleOutput& output);
    QStringList missingRunFiles() const;
    bool runFilesDiffer() const;
    bool runFilesMatch() const;
    int ticketsOfRun(const RunRecord& run) const;
    void setAsideRun();
    void nameGivenUpLines(const RunRecord& run);
    void chooseRecoveryOutput(CycleOutput& output);
    void recoverIntoCycleOutput(CycleOutput& output);

    // The storing of the local files under the saved run.
    void procesarDescarga(const QString& Loc, bool recoveryRun);
    StoredRun storeRun(const QString& Loc, QChar decimal, RunOutput& out);
    int storeRecords(RecordReader& reader, int count, const QString& Loc, QChar decimal,
                     const RunStores& stores, TicketStatements& statements, RunOutput& out);
    void commitRun(const QString& Loc, int stored, const RunStores& stores, StoreTransaction& local,
                   StoreTransaction& server);
    void keepLinesReachable(RunOutput& out, StoredRun& result);
    void finishRun(const QString& Loc, const StoredRun& stored, bool recoveryRun);

    bool readLists(QList<PersonEntry>& people, QList<CecoEntry>& cecos);
    std::optional<PersonEntry> personOfRow();
    bool push(const QString& IP, const QByteArray& message);
    void step(const char* name, int record = -1) {
        if (probe)
            probe(name, record);
    }
    void reportProblem(const QString& text); // status line and log row
    void pointFailed(const QString& why, bool transient = false);

    PointSetup m;
    PointOutcome m_outcome;
    bool m_pushOk = false;
    RunState m_state;
    bool m_stateLoaded = false;
    std::unique_ptr<RunOutput> m_out; // opened before the run's state is saved
    std::optional<int> m_count;       // of the fetched count file; none when unreadable
    FilesVerdict m_verdict;           // of the fetched files
    std::unique_ptr<PointLeases> m_leases;
    QString m_station;           // this station's identity among those sharing the server
    bool m_leasesTidied = false; // this station's leases left by an earlier process
    TTable tLectura, tLecturaBAK, torRegAsist, tLog;
    TQuery qPersonal, qCeco;
};
