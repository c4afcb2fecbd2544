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

    // Handlers of the FTP client's events (connected by the constructor).
    void FtpClient1Status(TTcpSock* Sender, const QString& Status);
    void FtpClient1PacketRecvd(TTcpSock* Sender);
    void FtpClient1Failure(bool& Handled, TCmdType Trans_Type);

    // Adds the journals to databases made before them; raises a plain error.
    void ensureJournals();
    // The recovery state as last loaded or saved.
    const RunState& state() const { return m_state; }

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

    // The fetch step: true when both local files are in place and flushed,
    // the run's recovery state is saved, its output file is open, and the
    // point has been asked to delete when the files allow it.
    bool descargarArchivos(const QString& IP, const QString& Desc, const QString& Loc,
                           CycleOutput& output);
    bool connectTo(const QString& IP, const QString& Desc);
    QString pointKey(const QString& IP) const;
    bool downloadFiles();
    FilesVerdict judgeFiles();
    int countAgain();
    void disconnectQuietly();
    void startRun(const QString& point, const QString& Loc, CycleOutput& output);
    void updatePending(RunRecord& run, int count);
    void setRunOutput(RunRecord& run, CycleOutput& output) const;
    bool openRunOutput(CycleOutput& output, bool emptiedBefore);
    void giveUpRun();
    void sendDelete(const QString& point);
    void reportKept(const QString& Loc, const QString& why);
    void flushLocalFiles();

    // Recovery of an interrupted run from its local copies.
    void recoverRun(CycleOutput& output);
    bool runFilesMatch() const;
    void setAsideRun();
    void chooseRecoveryOutput(CycleOutput& output);
    void recoverIntoCycleOutput(CycleOutput& output);

    // The storing of the local files under the saved run; count is that of
    // the run's count file.
    void procesarDescarga(const QString& Loc, bool recoveryRun, int count);
    QList<qint32> storeRun(const QString& Loc, int count, QChar decimal, RunOutput& out);
    int storeRecords(RecordReader& reader, int count, const QString& Loc, QChar decimal,
                     const RunStores& stores, TicketStatements& statements, RunOutput& out);
    void commitRun(const QString& Loc, int stored, const RunStores& stores, StoreTransaction& local,
                   StoreTransaction& server);
    void finishRun(const QString& Loc, int count, bool recoveryRun);

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
    RunState m_state;
    bool m_stateLoaded = false;
    std::unique_ptr<RunOutput> m_out; // opened by the fetch step, before the delete
    std::optional<int> m_count;       // of the fetched count file; none when unreadable
    TTable tLectura, tLecturaBAK, torRegAsist, tLog;
    TQuery qPersonal, qCeco;
};
