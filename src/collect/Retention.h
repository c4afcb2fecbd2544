#pragma once

#include <QDate>
#include <QSet>
#include <QString>

// What one pruning took away.
struct PruneResult {
    int logRows = 0; // rows of log.DB
    int runRows = 0; // rows of the journals of finished runs, local and server
};

// The rows older than `keepDays` days before `today`: the operations log's
// (by its Fecha), and the journals' of finished runs (by when they were
// stored) that no unfinished run or unconfirmed-delete entry refers to
// (`keepRuns`, and on the server every station's entries and leases). Each
// database in one transaction. The server alias may be "NONE". Raises on a
// database error; nothing of that database is taken away then.
PruneResult pruneOlderThan(const QString& localAlias, const QString& serverAlias, int keepDays,
                           const QDate& today, const QSet<QString>& keepRuns);
