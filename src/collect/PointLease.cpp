#include "collect/PointLease.h"

#include "platform/Errors.h"
#include "platform/TextCodec.h"
#include "store/Aliases.h"
#include "store/DatabaseError.h"
#include "store/OwnTables.h"
#include "store/Session.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>
#include <arpa/inet.h>

namespace {

const QString& kLeases = OwnTables::kLeases;
const QString& kPending = OwnTables::kPending;

QString nowText() {
    return QDateTime::currentDateTime().toString(Qt::ISODate);
}

EDatabaseError leaseError(const QString& what, const QString& alias, const QSqlQuery& query) {
    return EDatabaseError(QStringLiteral("%1 de la base de datos '%2': %3")
                              .arg(what, alias, query.lastError().text()));
}

QSqlQuery prepared(const QString& alias, const QString& sql, const QVariantList& values) {
    QSqlQuery query(TSession::current().connectionFor(alias));
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    return query;
}

void run(QSqlQuery& query, const QString& what, const QString& alias) {
    if (!query.exec())
        throw leaseError(what, alias, query);
}

PointLease leaseOf(const QSqlQuery& q) {
    return {q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
            q.value(3).toString(), q.value(4).toString(), q.value(5).toInt(),
            q.value(6).toString()};
}

const QString kLeaseColumns =
    QStringLiteral("point, station, host, since, run_id, record_count, address");

} // namespace

QString stationIdPath() {
    return AliasConfig::dataDirectory() + QStringLiteral("/station-id");
}

QString stationId() {
    QFile file(stationIdPath());
    QString id;
    if (file.open(QIODevice::ReadOnly))
        id = QString::fromLatin1(file.readAll()).trimmed();
    if (!id.isEmpty())
        return id;
    const QString made = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(AliasConfig::dataDirectory());
    QSaveFile out(stationIdPath());
    if (!out.open(QIODevice::WriteOnly) || out.write(made.toLatin1() + '\n') < 0 ||
        !commitSaveFile(out))
        throw Exception(QStringLiteral("No se puede guardar la identidad de la estación en "
                                       "\"%1\": %2")
                            .arg(stationIdPath(), out.errorString()));
    return made;
}

PointLeases::PointLeases(QString serverAlias, QString station)
    : m_alias(std::move(serverAlias)), m_station(std::move(station)) {}

QString PointLeases::table(const QString& own) const {
    return OwnTables::sqlName(own, AliasKind::Server, TSession::current().driverOf(m_alias));
}

// The system's reading of a numeric address ("127.0.2.01" is 127.0.2.1);
// a host name as written, in lower case.
QString PointLeases::leaseKey(const QString& address) {
    in_addr parsed{};
    const QByteArray text = address.trimmed().toLatin1();
    if (::inet_aton(text.constData(), &parsed) != 0)
        return QHostAddress(ntohl(parsed.s_addr)).toString();
    const QHostAddress other(address.trimmed());
    return other.isNull() ? address.trimmed().toLower() : other.toString();
}

std::optional<PointLease> PointLeases::take(const QString& point) {
    // An insert that fails on the key means a holder; its row may go between
    // the insert and the look, so this is tried a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        QSqlQuery insert =
            prepared(m_alias,
                     QStringLiteral("INSERT INTO %1 (%2) VALUES (?, ?, ?, ?, '', 0, '')")
                         .arg(table(kLeases), kLeaseColumns),
                     {point, m_station, QSysInfo::machineHostName(), nowText()});
        if (insert.exec())
            return std::nullopt;
        QSqlQuery look = prepared(
            m_alias,
            QStringLiteral("SELECT %2 FROM %1 WHERE point = ?").arg(table(kLeases), kLeaseColumns),
            {point});
        run(look, QStringLiteral("No se puede leer el turno del punto"), m_alias);
        if (!look.next())
            continue;
        const PointLease holder = leaseOf(look);
        if (holder.station == m_station || takeOver(holder))
            return std::nullopt;
        return holder;
    }
    throw EDatabaseError(QStringLiteral("No se puede tomar el turno del punto %1 en la base de "
                                        "datos '%2'")
                             .arg(point, m_alias));
}

// A lease that guards no run (its holder fetched nothing it must store) is
// taken over once it is old: the holder died, or hangs. Should it still be
// at work, it finds its lease gone before it deletes anything (noteRun).
bool PointLeases::takeOver(const PointLease& holder) {
    const QDateTime since = QDateTime::fromString(holder.since, Qt::ISODate);
    if (!holder.runId.isEmpty() ||
        (since.isValid() && since.secsTo(QDateTime::currentDateTime()) < kStaleLeaseSeconds))
        return false;
    QSqlQuery update = prepared(
        m_alias,
        QStringLiteral("UPDATE %1 SET station = ?, host = ?, since = ? WHERE point = ? AND "
                       "station = ? AND run_id = ''")
            .arg(table(kLeases)),
        {m_station, QSysInfo::machineHostName(), nowText(), holder.point, holder.station});
    run(update, QStringLiteral("No se puede tomar el turno del punto"), m_alias);
    return update.numRowsAffected() == 1;
}

bool PointLeases::noteRun(const QString& point, const QString& runId, int records,
                          const QString& address) {
    QSqlQuery update = prepared(
        m_alias,
        QStringLiteral("UPDATE %1 SET run_id = ?, record_count = ?, address = ? WHERE point = ? "
                       "AND station = ?")
            .arg(table(kLeases)),
        {runId, records, address, point, m_station});
    run(update, QStringLiteral("No se puede anotar la descarga en el turno del punto"), m_alias);
    return update.numRowsAffected() == 1;
}

void PointLeases::release(const QString& point, const QString& address,
                          const std::optional<PendingDelete>& entry) {
    QSqlDatabase db = TSession::current().connectionFor(m_alias);
    if (!db.transaction())
        throw EDatabaseError(QStringLiteral("No se puede liberar el turno del punto %1: %2")
                                 .arg(point, db.lastError().text()));
    try {
        // Held, the lease makes this station's entry the newest; let go by
        // an operator meanwhile, another station's may be newer.
        QSqlQuery own = prepared(
            m_alias,
            QStringLiteral("SELECT 1 FROM %1 WHERE point = ? AND station = ?").arg(table(kLeases)),
            {point, m_station});
        run(own, QStringLiteral("No se puede leer el turno del punto"), m_alias);
        const bool held = own.next();
        const std::optional<SharedPending> shared =
            address.isEmpty() ? std::nullopt : pending(address);
        if (!address.isEmpty() && (held || !shared || shared->station == m_station)) {
            QSqlQuery remove = prepared(
                m_alias, QStringLiteral("DELETE FROM %1 WHERE address = ?").arg(table(kPending)),
                {address});
            run(remove, QStringLiteral("No se puede borrar la entrada del punto"), m_alias);
            if (entry) {
                QSqlQuery insert = prepared(
                    m_alias,
                    QStringLiteral("INSERT INTO %1 (address, run_id, record_count, sha256, "
                                   "station) VALUES (?, ?, ?, ?, ?)")
                        .arg(table(kPending)),
                    {address, entry->runId, entry->count,
                     QString::fromLatin1(entry->sha256.toHex()), m_station});
                run(insert, QStringLiteral("No se puede guardar la entrada del punto"), m_alias);
            }
        }
        QSqlQuery drop = prepared(
            m_alias,
            QStringLiteral("DELETE FROM %1 WHERE point = ? AND station = ?").arg(table(kLeases)),
            {point, m_station});
        run(drop, QStringLiteral("No se puede liberar el turno del punto"), m_alias);
        if (!db.commit())
            throw EDatabaseError(QStringLiteral("No se puede liberar el turno del punto %1: %2")
                                     .arg(point, db.lastError().text()));
    } catch (...) {
        db.rollback();
        throw;
    }
}

std::optional<SharedPending> PointLeases::pending(const QString& address) {
    QSqlQuery look = prepared(
        m_alias,
        QStringLiteral("SELECT run_id, record_count, sha256, station FROM %1 WHERE address = ?")
            .arg(table(kPending)),
        {address});
    run(look, QStringLiteral("No se puede leer la entrada del punto"), m_alias);
    if (!look.next())
        return std::nullopt;
    return SharedPending{{look.value(0).toString(), look.value(1).toInt(),
                          QByteArray::fromHex(look.value(2).toString().toLatin1())},
                         look.value(3).toString()};
}

QList<PointLease> PointLeases::all() {
    QSqlQuery q = prepared(
        m_alias,
        QStringLiteral("SELECT %2 FROM %1 ORDER BY point").arg(table(kLeases), kLeaseColumns), {});
    run(q, QStringLiteral("No se pueden leer los turnos de los puntos"), m_alias);
    QList<PointLease> out;
    while (q.next())
        out << leaseOf(q);
    return out;
}

QList<PointLease> PointLeases::held() {
    QList<PointLease> own;
    for (const PointLease& lease : all())
        if (lease.station == m_station)
            own << lease;
    return own;
}

QList<PointLease> PointLeases::releaseStation(const QString& who) {
    QList<PointLease> released;
    for (const PointLease& lease : all()) {
        const bool matches = lease.station == who || lease.host == who ||
                             (who.size() >= 8 && lease.station.startsWith(who));
        if (!matches)
            continue;
        QSqlQuery drop = prepared(
            m_alias,
            QStringLiteral("DELETE FROM %1 WHERE point = ? AND station = ?").arg(table(kLeases)),
            {lease.point, lease.station});
        run(drop, QStringLiteral("No se puede liberar el turno del punto"), m_alias);
        released << lease;
    }
    return released;
}

QString leaseReleaseText(const PointLease& lease, bool runStoredInServer) {
    const QString head = QStringLiteral("%1: liberado (estación %2 en %3, desde %4)")
                             .arg(lease.point, lease.station.left(8), lease.host, lease.since);
    if (lease.runId.isEmpty())
        return head + QStringLiteral("; no había empezado a descargar: el punto conserva sus "
                                     "registros.");
    if (runStoredInServer)
        return head +
               QStringLiteral("; su descarga %1 ya está en el servidor.").arg(lease.runId.left(8));
    return head + QStringLiteral("; su descarga %1 tiene %2 registro(s) que pueden estar solo en "
                                 "los archivos locales de esa estación: se almacenan cuando vuelva "
                                 "a funcionar.")
                      .arg(lease.runId.left(8))
                      .arg(lease.records);
}
