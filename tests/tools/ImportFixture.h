#pragma once

#include "LegacyFiles.h"
#include "store/StoreFixture.h"

#include <QDir>
#include <QStringList>

// An old station's directory with its six tables, written with every field
// type the tables use, names with "Ñ" and accents, empty values and the
// largest numbers; and what an import of it must give.
class OldStation {
public:
    explicit OldStation(QString directory) : m_dir(std::move(directory)) { QDir().mkpath(m_dir); }
    QString path(const QString& name) const { return m_dir + QLatin1Char('/') + name; }
    const QString& directory() const { return m_dir; }

    void writeLectura(const QString& name = QStringLiteral("lectura.DB")) const;
    void writeLog() const;
    void writeConfRegIP() const;
    void writePersonal(const QList<DbfColumn>& extra = {}) const;
    void writeCeco() const;
    void writeAll() const;

private:
    QString m_dir;
};

// Rows of a table of the alias, counted through the station's data set.
int rowsOf(const QString& alias, const QString& table);

// A database of its own on the test PostgreSQL ($KIVO_TEST_PG) with the six
// local tables, named in the alias configuration as the local alias; dropped
// again at the end. Read-only: every transaction of a new session is.
class PostgresLocalDatabase {
public:
    PostgresLocalDatabase(const StoreEnvironment& env, const QString& alias, bool readOnly = false);
    ~PostgresLocalDatabase();
    bool valid() const { return m_valid; }

private:
    bool admin(const QString& sql);
    QString m_name;
    bool m_valid = false;
};
