#pragma once

#include <QString>

// The two alias names in use, read once from "dbAlias.txt".
struct AliasNames {
    QString local = QStringLiteral("KIVO_1");
    QString server = QStringLiteral("JUXRegs");
};

// The server alias that switches the server table off (exact, upper case).
inline const QString kNoServerAlias = QStringLiteral("NONE");

// Line 1 is the local alias, line 2 the server alias, each taken whole without
// trimming; a file of one line gives an empty server alias. A missing file or
// any read error gives both defaults together.
AliasNames readAliasFile(const QString& path = QStringLiteral("dbAlias.txt"));

// What an alias stands for, from the alias configuration (an INI file).
struct AliasDefinition {
    enum class Driver { Sqlite, Postgres, Odbc };
    Driver driver = Driver::Sqlite;
    QString path;           // sqlite: database file
    QString host;           // postgres
    int port = 5432;        // postgres
    QString database;       // postgres
    int connectTimeout = 5; // postgres, odbc: seconds before an unreachable server counts as down
    QString connection;     // odbc: a DSN name, or a connection string ("DRIVER={...};SERVER=...")
    // Non-empty: the database is protected; the session must hold this password
    // (supplied through its password hook) before the connection is made.
    QString password;
    bool embedded = false; // no section: the embedded default SQLite file
};

enum class AliasKind { Local, Server };

class AliasConfig {
public:
    // $KIVO_ALIASES, else aliases.ini in the working directory, else
    // $XDG_CONFIG_HOME/kivo-ip/aliases.ini.
    static QString configPath();
    // $XDG_DATA_HOME/kivo-ip: the embedded databases and the recovery state
    static QString dataDirectory();
    // $XDG_DATA_HOME/kivo-ip/<alias>.sqlite
    static QString embeddedPath(const QString& alias);
    // Raises EDatabaseError when the configuration cannot be read or the
    // alias's section is incomplete.
    static AliasDefinition definitionFor(const QString& alias);
};
