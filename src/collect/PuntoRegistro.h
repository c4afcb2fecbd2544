#pragma once

#include "collect/ParamMessage.h"
#include "collect/PointWork.h"
#include "collect/SettingsCodec.h"
#include "collect/StationReport.h"
#include "collect/Ticket.h"
#include "net/FtpClient.h"
#include "net/TcpSock.h"
#include "store/DataSet.h"

#include <functional>

class RunOutput;
class StoreTransaction;
class TicketStatements;

// What one registration point's work needs from its owner (the main window or
// a service): the two network components, the report channels, the alias
// names, the persisted recovery state with the hook that saves it (guardarParam),
// and the FTP time-out setting.
struct PointSetup {
    TFtpClient& ftp;
    TTcpSock& sock;
    StationReport& report;
    QString localAlias;
    QString serverAlias;
    bool& fFTPerr;
    QString& FTPloc;
    RecoveryExtra& recovery;
    std::function<void()> guardarParam;
    std::function<int()> ftpTimeOut; // milliseconds
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

    // The fetch step: true when both local files are in place, flushed, the
    // run's recovery state is saved and the point has been asked to delete.
    bool descargarArchivos(const QString& IP, const QString& Desc, const QString& Loc,
                           CycleOutput& output);
    // The storing of the local files under the saved run.
    void procesarDescarga(const QString& Loc, bool recoveryRun);

    // Handlers of the FTP client's events (connected by the constructor).
    void FtpClient1Status(TTcpSock* Sender, const QString& Status);
    void FtpClient1PacketRecvd(TTcpSock* Sender);
    void FtpClient1Failure(bool& Handled, TCmdType Trans_Type);

    // Adds the journals to databases made before them; raises a plain error.
    void ensureJournals();

    bool FalloFTP = false;
    QString DescActual;
    CrcRegister crc;

    // Named steps of a run ("before-delete", "record", "between-commits", ...);
    // tests stop or fail the run there. record is the record index or -1.
    std::function<void(const char* step, int record)> probe;

private:
    bool serverOn() const;
    bool tablesAccessible();
    bool connectTo(const QString& IP, const QString& Desc);
    bool downloadFiles();
    void disconnectQuietly();
    void startRun(const QString& IP, const QString& Loc, CycleOutput& output);
    void recoverIntoCycleOutput(CycleOutput& output);
    void sendDelete(const QString& IP);
    void flushLocalFiles();
    // Which databases a storing run still writes (their journals lack the run).
    struct RunStores {
        bool local = false;
        bool server = false;
        bool oneDatabase = false; // both aliases name one database
    };
    struct StoredRecords {
        int stored = 0;
        bool brokenTail = false; // the file ended inside a counted record
    };
    StoredRecords storeRecords(RecordReader& reader, int count, const QString& Loc,
                               const RunStores& stores, TicketStatements& statements,
                               RunOutput& out);
    void commitRun(const QString& Loc, int stored, const RunStores& stores, StoreTransaction& local,
                   StoreTransaction& server);
    void reportBrokenTail(const QString& Loc, const QString& fate); // fate of the kept copy
    void finishRun(const QString& Loc, int count, bool recoveryRun);
    bool readLists(QList<PersonEntry>& people, QList<CecoEntry>& cecos);
    bool push(const QString& IP, const QByteArray& message);
    void step(const char* name, int record = -1) {
        if (probe)
            probe(name, record);
    }

    PointSetup m;
    TTable tLectura, tLecturaBAK, torRegAsist, tLog;
    TQuery qPersonal, qCeco;
};
