#pragma once

#include "platform/DateTime.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points every path the store uses (alias configuration, embedded data,
// registry, working directory) into a temporary directory for one test.
class StoreEnvironment {
public:
    StoreEnvironment();
    ~StoreEnvironment();
    StoreEnvironment(const StoreEnvironment&) = delete;
    StoreEnvironment& operator=(const StoreEnvironment&) = delete;

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString aliasesPath() const { return path(QStringLiteral("aliases.ini")); }
    QString dataDir() const { return path(QStringLiteral("data/kivo-ip")); }
    void writeFile(const QString& name, const QByteArray& content) const;

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
};

// A temporary environment and a session over the two default aliases. The
// environment is made first and goes last.
struct StoreWorld {
    StoreWorld() {
        session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        session.DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
    }
    StoreEnvironment env;
    TSession session;
};

// One ticket row of the server table, as the record storage writes it.
struct Ticket {
    QString origen;
    TDateTime fecha = 0;
    double importe = 0;
    int legajo = 0;
};
void appendTicket(TDataSet& table, const Ticket& ticket);

// The four-line date-range text of the ticket-records window.
QStringList dateRangeSql(const QDate& from, const QDate& to);

// Writes five tickets around the range 1 to 17 March 2031, tagged in ORIGEN,
// and checks what the date-range text selects: 00:00:00 of the first day and
// 23:59:59 of the last included, the seconds outside excluded, sorted by FECHA.
void checkDateRange(const QString& alias, const QString& tag);
