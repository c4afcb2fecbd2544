#pragma once

#include "store/Aliases.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

class TDatabase;

// The one database session: it maps alias names to Qt SQL connections, opened
// on first use, and supplies the password of protected local tables.
class TSession {
public:
    TSession();
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // The session every data set uses (the last one constructed and alive).
    static TSession& current();

    // Which kind of tables an embedded default database of this alias gets
    // when its file is created.
    void DeclareAlias(const QString& alias, AliasKind kind);

    // The open connection for an alias; raises EDatabaseError when it cannot be made.
    QSqlDatabase connectionFor(const QString& alias);
    AliasDefinition::Driver driverOf(const QString& alias);
    void closeAll();

    // Password hook: called when a protected table is opened; the handler adds
    // a password with AddPassword and sets Continue to go on.
    std::function<void(TSession& sender, bool& Continue)> OnPassword;
    void AddPassword(const QString& password);
    const QStringList& passwords() const;
    // Asks the hook for a password; true when it supplied one and went on.
    bool requestPassword();

    // Named server connections (TDatabase) register here.
    void registerDatabase(TDatabase* database);
    void unregisterDatabase(TDatabase* database);

private:
    struct Impl;
    Impl* d;
};

// A named connection to a server: its parameter lines ("USER NAME=...",
// "password=...") carry the login of every data set that names its alias.
class TDatabase {
public:
    explicit TDatabase(TSession& session = TSession::current());
    ~TDatabase();

    QString AliasName;
    QString DatabaseName;
    bool LoginPrompt = false;
    QStringList Params{QStringLiteral("USER NAME=JUX"), QStringLiteral("password=60728")};

    QString param(const QString& name) const; // case-insensitive name
    // Raise EDatabaseError when the file cannot be read or written.
    void LoadParamsFromFile(const QString& path);
    void SaveParamsToFile(const QString& path) const;

private:
    TSession& m_session;
};
