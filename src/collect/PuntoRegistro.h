#pragma once

#include "collect/ParamPush.h"
#include "collect/PointFetch.h"
#include "collect/PointRun.h"
#include "collect/RunRecovery.h"
#include "collect/StoringRun.h"

#include <optional>

// One registration point's work: fetch its files, store each record exactly
// once in the two local tables, the server table and the output file, and
// push the parameter lists. It coordinates parts with one job each (the
// fetch, the storing run, the recovery, the push), which share the run in
// hand, the point's lease, the report channel and the tables (PointRun).
// Widget-free.
class PuntoRegistro : public PointWork {
public:
    explicit PuntoRegistro(PointSetup setup);
    PuntoRegistro(const PuntoRegistro&) = delete;
    PuntoRegistro& operator=(const PuntoRegistro&) = delete;

    void Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                   CycleOutput& output) override;
    void sincronizarPar(const QString& IP, const QString& Desc, const QString& Loc) override;
    bool ftpConnected() const override;
    void closeFtp() override;
    PointOutcome outcome() const override { return m_run.outcome(); }
    bool lastPushOk() const override { return m_push.lastPushOk(); }
    int pointsAtOnce() const override { return m_run.pointsAtOnce(); }
    std::optional<ParamBatch> paramBatch() override;
    const TFtpClient* fetchOptions() const override { return &m.ftp; }
    int ftpTimeOutMs() const override { return m.ftpTimeOut(); }
    bool beginFetch(const QString& IP, const QString& Desc, CycleOutput& output,
                    QString& lease) override;
    void storeFetched(const QString& IP, const QString& Loc, const QString& lease,
                      CycleOutput& output, const FetchedFiles& files, PointLink& link) override;
    void dropFetched(const QString& lease) override { m_run.leases().release(lease, QString()); }

    // Adds the journals (and, with a server, the points' leases) to databases
    // made before them; raises a plain error.
    void ensureJournals();
    // The recovery state as last loaded or saved; loaded now when it was not.
    // Raises when it cannot be read.
    const RunState& state();

    std::optional<UnfinishedRun> unfinishedRun() { return m_recovery.unfinishedRun(); }
    QString abandonRun(const QString& runId) { return m_recovery.abandonRun(runId); }

    // Named steps of a run, where tests stop or fail it.
    void setProbe(StepProbe probe) { m_run.setProbe(std::move(probe)); }
    // The FTP client, whose event handlers the fetch has set.
    TFtpClient& ftp() { return m.ftp; }

private:
    bool serverOn() const;
    bool tablesAccessible();
    bool loadState(const QString& Desc);
    void markUnfinished();
    bool beginVisit(const QString& Desc, CycleOutput& output);
    bool storePendingRun(const QString& lease, CycleOutput& output);
    template <typename Fetch>
    void storeRun(const QString& lease, const QString& Loc, Fetch&& fetch);

    PointRun m_run;
    const PointSetup& m; // the owner's, as the run keeps it
    PointFetch m_fetch;
    StoringRun m_store;
    RunRecovery m_recovery;
    ParamPush m_push;
    QString m_unreached; // the point whose FTP connection could not be established
};
