#pragma once

#include "collect/PointWork.h"

#include <QMetaType>
#include <QString>

// What a station reports as it works, typed: every face (the window, the
// service's journal and socket, the health table, the alerts) subscribes to
// these instead of reading display texts back.

enum class CycleKind { Download, Sync };
// What started a download cycle: the daily or constant trigger, "&Descargar"
// (into "Archivo:"), or a cycle asked for now into the day's automatic file.
enum class CycleTrigger { Daily, Constant, Manual, Now };

// One point's visit in a cycle, once its outcome is final (after its one
// retry, if it gets one).
struct PointVisit {
    QString ip, desc, loc;
    PointOutcome outcome;
};

// The personnel and cost-centre lists pushed to one point.
struct ListsPush {
    QString ip, desc, loc;
    bool ok = false;
};

// The bytes of a transfer so far (size 0 when the server did not announce it).
struct TransferProgress {
    QString host, desc;
    qint64 received = 0;
    qint64 size = 0;
};

// A point's storing run once it has ended: how long it ran on its thread.
struct StoringRunTime {
    double seconds = 0;
    bool ok = true; // false: it raised (nothing of it was committed, or it is recovered later)
};

Q_DECLARE_METATYPE(PointVisit)
Q_DECLARE_METATYPE(ListsPush)
Q_DECLARE_METATYPE(TransferProgress)
Q_DECLARE_METATYPE(StoringRunTime)
