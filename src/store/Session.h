#pragma once

#include "store/Aliases.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>

class TDatabase;

// The one password the station supplies for protected local tables.
inline const QString kLocalTablesPassword = QStringLiteral("pdxr8164");

// The one database session: it maps alias names to Qt SQL connections (the
// connection name is the alias), opened on first use, and supplies the
// password of protected databases through its password hook.
class TSession {
public:
    TSession();
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // The session every data set uses: the last one constructed and alive, or
    // a default one when none has been constructed.
    static TSession& current();

    // Which kind of tables an embedded default database of this alias gets
    // when its file is created. An alias declared with both kinds gets both;
    // an undeclared one gets the local tables.
    void DeclareAlias(const QString& alias, AliasKind kind);

    // The open connection for an alias (or for the DatabaseName of a
    // registered TDatabase); raises EDatabaseError when it cannot be made.
    QSqlDatabase connectionFor(const QString& alias);
    AliasDefinition::Driver driverOf(const QString& alias);
    // The calling thread's open connection for an alias, if it has one (no
    // connection is made).
    QSqlDatabase existingConnection(const QString& alias);
    // Closes and removes every connection this session opened.
    void closeAll();
    // A thread other than the application's has connections of its own (see
    // connectionName); it closes them with this before it ends.
    void closeThreadConnections();
    // Called after a statement failed: when the connection itself no longer
    // answers (a restarted server), it is dropped so that the next use
    // connects again instead of failing for the rest of the run.
    void dropIfBroken(const QString& alias);

    // Password hook: called when a protected database is opened and the
    // session does not hold its password; the handler adds a password with
    // AddPassword and sets Continue to go on.
    std::function<void(TSession& sender, bool& Continue)> OnPassword;
    void AddPassword(const QString& password);
    const QStringList& passwords() const;
    // Asks the hook for a password; true when it went on.
    bool requestPassword();

    // Named server connections (TDatabase) register here.
    void registerDatabase(TDatabase* database);
    void unregisterDatabase(TDatabase* database);

private:
    struct Impl;
    Impl* d;
};

// A named connection to a server: its parameter lines ("USER NAME=...",
// "password=...") carry the login of every data set that names it.
class TDatabase {
public:
    explicit TDatabase(TSession& session = TSession::current());
    ~TDatabase();
    TDatabase(const TDatabase&) = delete;
    TDatabase& operator=(const TDatabase&) = delete;

    // The alias whose definition the connection uses; empty: DatabaseName.
    QString AliasName;
    // The name data sets use to reach this connection.
    QString DatabaseName;
    bool LoginPrompt = false; // there is no prompt: the login is in Params
    QStringList Params{QStringLiteral("USER NAME=JUX"), QStringLiteral("password=60728")};

    // The value of the first line whose name matches without regard to case;
    // empty when there is none.
    QString param(const QString& name) const;
    // Raise EDatabaseError when the file cannot be read or written. The lines
    // are Windows-1252 with CR LF ends.
    void LoadParamsFromFile(const QString& path);
    void SaveParamsToFile(const QString& path) const;

private:
    TSession& m_session;
};
