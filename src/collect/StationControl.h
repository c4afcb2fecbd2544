#pragma once

#include "collect/Cycles.h"
#include "collect/PointHealth.h"
#include "collect/StationEvents.h"
#include "collect/StationSettingsStore.h"

#include <QObject>
#include <optional>

struct UnfinishedRun;

// What a face asks of a station, and the typed events it hears back. The
// station in this process (StationCore) implements it directly; a window
// that follows a running service (RemoteStation) implements it over the
// service's control socket. A face never reads a display text back to
// decide what to do: it has the events.
class StationControl : public QObject {
    Q_OBJECT
public:
    // The settings the face shows and edits; settingsSaved() once written.
    virtual StationSettingsStore& settings() = 0;

    // A download cycle now: into the given file by hand, else into the day's
    // automatic file. Nothing when a cycle runs.
    virtual void startDownload(const std::optional<ManualOutput>& manual) = 0;
    virtual void startSync() = 0;
    // The point in hand is finished; the next step ends the cycle.
    virtual void cancel() = 0;
    // The daily trigger's 5 s look at the clock, and the constant trigger.
    virtual void dailyTick() = 0;
    virtual void constantTick() = 0;
    // The settings file was written: what the station runs on is read anew.
    virtual void settingsSaved() = 0;
    virtual bool running() const = 0;

    // Every point of the points table with its health.
    virtual QList<PointHealthView> points() = 0;
    virtual HealthPolicy healthPolicy() = 0;
    virtual void setHealthPolicy(const HealthPolicy& policy) = 0;

    virtual std::optional<UnfinishedRun> unfinishedRun() = 0;
    virtual QString abandonRun(const QString& runId) = 0;

    // A service this face follows (false: the station is this process).
    virtual bool remote() const { return false; }

signals:
    void cycleStarted(CycleKind kind, CycleTrigger trigger);
    void pointStarted(const PointVisit& point);
    void pointVisited(const PointVisit& visit);
    void listsPushed(const ListsPush& push);
    void cycleEnded(CycleKind kind, bool cancelled);
    void transferProgress(const TransferProgress& progress);
    void storingRunEnded(const StoringRunTime& run);
    // What the station's texts say: the memo, appended as it stands
    // (lines end in CR LF), its clearing, the status line, and the text of
    // an error that ended an operation (the standard error box's).
    void memoAppended(const QString& text);
    void memoCleared();
    void statusChanged(const QString& text);
    void errorShown(const QString& message);
    void healthChanged();
    void alertRaised(const HealthAlert& alert);
    // The station went away: the service this face followed stopped.
    void gone();
};
