#pragma once

#include <QString>

// The journal of finished storing runs, one table per database
// (OwnTables::kRuns, added by a schema step; under dbo on a server). Its row for a run is written
// in the same transaction as the run's rows, so a database holds either both or neither: a recovery
// run skips each database whose journal holds the run.
namespace RunJournal {

inline const QString kLocalStore = QStringLiteral("local");
inline const QString kServerStore = QStringLiteral("server");

bool holds(const QString& alias, bool server, const QString& runId, const QString& store);
void append(const QString& alias, bool server, const QString& runId, const QString& store,
            const QString& loc, int count);

} // namespace RunJournal

// One transaction on an alias's connection; rolled back unless committed.
class StoreTransaction {
public:
    explicit StoreTransaction(QString alias) : m_alias(std::move(alias)) {}
    ~StoreTransaction();
    StoreTransaction(const StoreTransaction&) = delete;
    StoreTransaction& operator=(const StoreTransaction&) = delete;

    void begin();
    void commit();
    bool active() const { return m_active; }

private:
    QString m_alias;
    bool m_active = false;
};
