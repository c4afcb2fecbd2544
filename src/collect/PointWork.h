#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class PointLink;
class TFtpClient;
struct FetchedFiles;

// The output file of one download cycle, shared by every point of the cycle.
struct CycleOutput {
    QString path;           // fixed when the cycle starts
    bool overwrite = false; // "Sobrescribir" of a manual cycle: empty the file once
    // Set by the storing run once it has emptied the file, so that the later
    // points of the same cycle append instead of emptying it again.
    bool emptied = false;
    // Output lines kept aside are reported once per cycle.
    bool sideFilesReported = false;
};

// How a point fared in its last visit (fetch, store and push).
struct PointOutcome {
    bool known = false; // the work says how it went
    bool ok = false;
    QString failure;        // what failed, for a person
    int records = 0;        // records stored by the run
    bool transient = false; // a reset or time-out: another try may succeed
    int errorCode = 0;      // the socket error that ended it (Winsock numbering); 0: none
    bool elsewhere = false; // another station collects the point now: not tried
    bool deleted = false;   // the point confirmed the delete of what it held
    bool kept = false;      // the point keeps records the files did not allow deleting
};

// One parameter message for many points, and how long a push waits.
struct ParamBatch {
    QByteArray message;
    int timeOutMs = 30000;
};

// What a cycle step asks of one registration point. Every call returns only
// when done; while it waits on the network it serves the event loop.
class PointWork {
public:
    virtual ~PointWork() = default;

    // Collects the point's records and stores them (or, with the recovery
    // flag set, stores the records of the interrupted run instead). Reports
    // its own failures; an error that escapes it ended the storing.
    virtual void Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                           CycleOutput& output) = 0;
    // Pushes the personnel and cost-centre lists to the point.
    virtual void sincronizarPar(const QString& IP, const QString& Desc, const QString& Loc) = 0;
    // Whether the last push handed the whole message to the point.
    virtual bool lastPushOk() const { return true; }

    // The FTP client: still connected (a step waits), and made sure closed.
    virtual bool ftpConnected() const = 0;
    virtual void closeFtp() = 0; // Disconnect, then CloseSocket
    // How the last Descargar and sincronizarPar of a point went.
    virtual PointOutcome outcome() const { return {}; }

    // "Puntos a la vez": how many points a cycle keeps in progress at once.
    virtual int pointsAtOnce() const { return 1; }
    // The parameter message every point of a sync cycle gets, read once, and
    // the push's time-out; none (nothing said) when the lists cannot be read.
    virtual std::optional<ParamBatch> paramBatch() { return std::nullopt; }

    // Points fetched side by side, each by a client of its own: the FTP
    // client whose log-in those copy (none: this work fetches only with its
    // own), and the FTP time-out in milliseconds.
    virtual const TFtpClient* fetchOptions() const { return nullptr; }
    virtual int ftpTimeOutMs() const { return 0; }
    // Before a point is fetched elsewhere: the visit's checks (an interrupted
    // run stored first) and the point's lease. False: the point is not
    // fetched in this visit, and its outcome says why.
    virtual bool beginFetch(const QString& /*IP*/, const QString& /*Desc*/,
                            CycleOutput& /*output*/, QString& /*lease*/) {
        return false;
    }
    // The files fetched elsewhere stored as Descargar stores its own; the
    // delete goes over link.
    virtual void storeFetched(const QString& /*IP*/, const QString& /*Loc*/,
                              const QString& /*lease*/, CycleOutput& /*output*/,
                              const FetchedFiles& /*files*/, PointLink& /*link*/) {}
};
