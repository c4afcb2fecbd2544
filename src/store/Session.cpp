#include "store/Session.h"

#include "platform/TextCodec.h"
#include "store/Connection.h"
#include "store/DatabaseError.h"

#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QSqlDriver>
#include <QSqlQuery>
#include <algorithm>
#include <map>
#include <set>
#include <vector>

struct TSession::Impl {
    // The storing run opens and closes connections of its own from another
    // thread; a password hook may add a password while a connection is made.
    QRecursiveMutex mutex;
    std::map<QString, std::set<AliasKind>> kinds;
    QStringList passwords;
    std::vector<TDatabase*> databases;
    QStringList opened; // connection names this session made
};

namespace {

std::vector<TSession*>& liveSessions() {
    static std::vector<TSession*> sessions;
    return sessions;
}

} // namespace

TSession::TSession() : d(new Impl) {
    liveSessions().push_back(this);
}

TSession::~TSession() {
    closeAll();
    auto& live = liveSessions();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    delete d;
}

TSession& TSession::current() {
    // When nobody constructed a session, one is made and never destroyed: at
    // exit Qt's connection registry may already be gone.
    if (liveSessions().empty())
        new TSession;
    return *liveSessions().back();
}

void TSession::DeclareAlias(const QString& alias, AliasKind kind) {
    d->kinds[alias].insert(kind);
}

QSqlDatabase TSession::connectionFor(const QString& name) {
    QMutexLocker lock(&d->mutex);
    const QString connection = connectionName(name);
    if (QSqlDatabase::contains(connection)) {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (db.isOpen())
            return db;
        // The driver closed it after losing the server: connect again.
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection);
    }
    TDatabase* named = nullptr;
    for (TDatabase* database : d->databases)
        if (database->DatabaseName == name)
            named = database;
    const QString alias = named && !named->AliasName.isEmpty() ? named->AliasName : name;
    const AliasDefinition def = AliasConfig::definitionFor(alias);
    if (!def.password.isEmpty() && !d->passwords.contains(def.password)) {
        if (!requestPassword() || !d->passwords.contains(def.password))
            throw EDatabaseError(QStringLiteral("Invalid password for database '%1'").arg(name));
    }
    QSqlDatabase db;
    if (def.driver == AliasDefinition::Driver::Sqlite) {
        db = openSqliteConnection(connection, def, d->kinds[name]);
    } else {
        const QString user = named ? named->param(QStringLiteral("USER NAME")) : QString();
        const QString password = named ? named->param(QStringLiteral("password")) : QString();
        db = def.driver == AliasDefinition::Driver::Odbc
                 ? openOdbcConnection(connection, def, user, password)
                 : openPostgresConnection(connection, def, user, password);
    }
    if (!d->opened.contains(connection))
        d->opened << connection;
    return db;
}

AliasDefinition::Driver TSession::driverOf(const QString& alias) {
    return driverOfConnection(connectionFor(alias));
}

void TSession::closeAll() {
    QMutexLocker lock(&d->mutex);
    for (const QString& name : std::as_const(d->opened)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    d->opened.clear();
}

void TSession::closeThreadConnections() {
    QMutexLocker lock(&d->mutex);
    const QString mine = connectionName(QString());
    if (mine.isEmpty())
        return; // the application's thread keeps its connections
    for (const QString& name : QStringList(d->opened)) {
        if (!name.endsWith(mine))
            continue;
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
        d->opened.removeAll(name);
    }
}

QSqlDatabase TSession::existingConnection(const QString& alias) {
    QMutexLocker lock(&d->mutex);
    const QString connection = connectionName(alias);
    return QSqlDatabase::contains(connection) ? QSqlDatabase::database(connection, false)
                                              : QSqlDatabase();
}

void TSession::dropIfBroken(const QString& alias) {
    QMutexLocker lock(&d->mutex);
    const QString connection = connectionName(alias);
    if (!QSqlDatabase::contains(connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        QSqlQuery probe(db);
        if (db.isOpen() && probe.exec(QStringLiteral("SELECT 1")))
            return;
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    d->opened.removeAll(connection);
}

void TSession::AddPassword(const QString& password) {
    QMutexLocker lock(&d->mutex);
    if (!d->passwords.contains(password))
        d->passwords << password;
}

const QStringList& TSession::passwords() const {
    return d->passwords;
}

bool TSession::requestPassword() {
    if (!OnPassword)
        return false;
    bool go = false;
    OnPassword(*this, go);
    return go;
}

void TSession::registerDatabase(TDatabase* database) {
    d->databases.push_back(database);
}

void TSession::unregisterDatabase(TDatabase* database) {
    auto& all = d->databases;
    all.erase(std::remove(all.begin(), all.end(), database), all.end());
}

TDatabase::TDatabase(TSession& session) : m_session(session) {
    m_session.registerDatabase(this);
}

TDatabase::~TDatabase() {
    m_session.unregisterDatabase(this);
}

QString TDatabase::param(const QString& name) const {
    for (const QString& line : Params) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && line.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return {};
}

void TDatabase::LoadParamsFromFile(const QString& path) {
    QStringList lines;
    if (!readCp1252Lines(path, lines))
        throw EDatabaseError(QStringLiteral("Cannot open file \"%1\"").arg(path));
    Params = lines;
}

// The parameters hold the server's password: the file is its owner's alone.
void TDatabase::SaveParamsToFile(const QString& path) const {
    if (!writeCp1252Lines(path, Params, nullptr, true))
        throw EDatabaseError(QStringLiteral("Cannot create file \"%1\"").arg(path));
}
