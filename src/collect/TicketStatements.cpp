#include "collect/TicketStatements.h"

#include "store/DatabaseError.h"
#include "store/Session.h"
#include "store/SqlDialect.h"

#include <QSqlError>
#include <QtMath>
#include <climits>
#include <optional>

namespace {

QSqlQuery prepared(const QString& alias, const QString& sql, const QString& what) {
    TSession& session = TSession::current();
    QSqlQuery query(session.connectionFor(alias));
    query.setForwardOnly(true); // no row cache: each result is read once
    if (!query.prepare(translateSql(sql, session.driverOf(alias))))
        throw EDatabaseError(QStringLiteral("Cannot prepare '%1' of database '%2': %3")
                                 .arg(what, alias, query.lastError().text()));
    return query;
}

// Named placeholders: Qt binds a positional value through a name it formats
// anew for every call, which costs more than the insert itself.
const QString kP[] = {QStringLiteral(":p0"), QStringLiteral(":p1"), QStringLiteral(":p2"),
                      QStringLiteral(":p3"), QStringLiteral(":p4"), QStringLiteral(":p5"),
                      QStringLiteral(":p6"), QStringLiteral(":p7"), QStringLiteral(":p8")};

QString localInsert(const QString& table) {
    return QStringLiteral("INSERT INTO %1 (Codigo, Hora, Fecha, Loc, Cta, NroTicket, Origen) "
                          "VALUES (:p0, :p1, :p2, :p3, :p4, :p5, :p6)")
        .arg(table);
}

// The stored forms of the data sets ("yyyy-MM-dd", "hh:mm:ss.zzz"), written
// from the calendar parts: a local QDateTime would cost a time-zone lookup
// per value.
QString dateText(const DateTimeParts& p) {
    QString text;
    text.reserve(10);
    appendZeroPadded(text, p.year, 4);
    text += QLatin1Char('-');
    appendZeroPadded(text, p.month, 2);
    text += QLatin1Char('-');
    appendZeroPadded(text, p.day, 2);
    return text;
}

QString timeText(int hour, int minute, int second, int msec) {
    QString text;
    text.reserve(12);
    appendZeroPadded(text, hour, 2);
    text += QLatin1Char(':');
    appendZeroPadded(text, minute, 2);
    text += QLatin1Char(':');
    appendZeroPadded(text, second, 2);
    text += QLatin1Char('.');
    appendZeroPadded(text, msec, 3);
    return text;
}

// A card number as the integer columns hold it; none for a value out of their
// range or no number at all, which must never be stored wrapped.
std::optional<int> cardOf(const QVariant& value) {
    if (value.isNull())
        return 0;
    bool ok = false;
    // toInt() would cut a 64-bit value down to its low bits
    const qlonglong whole = value.toLongLong(&ok);
    if (ok)
        return whole >= INT_MIN && whole <= INT_MAX ? std::optional<int>(int(whole)) : std::nullopt;
    const double real = value.toDouble(&ok);
    if (!ok || real < INT_MIN || real > INT_MAX)
        return std::nullopt;
    return qRound(real);
}

} // namespace

TicketStatements::TicketStatements(const QString& localAlias, const QString& serverAlias)
    : m_localAlias(localAlias), m_serverAlias(serverAlias) {
    if (!localAlias.isEmpty()) {
        m_lectura = prepared(localAlias, localInsert(QStringLiteral("lectura.DB")),
                             QStringLiteral("lectura.DB"));
        m_lecturaBak = prepared(localAlias, localInsert(QStringLiteral("lecturaBAK.db")),
                                QStringLiteral("lecturaBAK.db"));
        m_person = prepared(localAlias,
                            QStringLiteral("select NOMBRES, APELLIDOS, TARJETA from personal.dbf "
                                           "where CODIGO = :p0"),
                            QStringLiteral("personal.DBF"));
    }
    if (!serverAlias.isEmpty())
        m_tickets = prepared(serverAlias,
                             QStringLiteral("INSERT INTO dbo.tickettaxis (ORIGEN, LEGAJO, NOMBRES, "
                                            "FECHA, IMPORTE, CUENTA, CECO, TARJETA, TICKET, "
                                            "VERIFICADO) VALUES (:p0, :p1, :p2, :p3, :p4, :p5, "
                                            ":p6, :p7, :p8, 0)"),
                             QStringLiteral("dbo.tickettaxis"));
}

void TicketStatements::run(QSqlQuery& query, const QString& alias, const QString& what) {
    if (query.exec())
        return;
    const QString why = query.lastError().text();
    TSession::current().dropIfBroken(alias);
    throw EDatabaseError(
        QStringLiteral("Cannot post to '%1' of database '%2': %3").arg(what, alias, why));
}

// lectura.DB keeps the time to the minute, lecturaBAK.db to the second; Loc
// holds the raw amount in tenths.
void TicketStatements::storeLocal(const RegistroTicket& r, const QString& loc) {
    const DateTimeParts p = decodeDateTime(r.FechaHora);
    const QString fecha = dateText(p);
    const QString horas[2] = {timeText(p.hour, p.minute, 0, 0),
                              timeText(p.hour, p.minute, p.second, p.msec)};
    QSqlQuery* tables[2] = {&m_lectura, &m_lecturaBak};
    for (int k = 0; k < 2; ++k) {
        QSqlQuery& q = *tables[k];
        q.bindValue(kP[0], r.Codigo);
        q.bindValue(kP[1], horas[k]);
        q.bindValue(kP[2], fecha);
        q.bindValue(kP[3], int(r.Importe));
        q.bindValue(kP[4], r.Cuenta);
        q.bindValue(kP[5], r.Ticket);
        q.bindValue(kP[6], loc);
        run(q, m_localAlias,
            k == 0 ? QStringLiteral("lectura.DB") : QStringLiteral("lecturaBAK.db"));
    }
}

// Only the first row counts; no row is an unknown code: empty name, card 0.
// Each code is looked up once per run, as the table stands when the code
// first appears (the run's transaction keeps it from changing under it).
Person TicketStatements::lookUp(qint32 codigo) {
    const auto known = m_people.constFind(codigo);
    if (known != m_people.cend())
        return *known;
    m_person.bindValue(kP[0], codigo);
    run(m_person, m_localAlias, QStringLiteral("personal.DBF"));
    Person person;
    if (m_person.next()) {
        person.name =
            m_person.value(0).toString() + QLatin1Char(' ') + m_person.value(1).toString();
        const std::optional<int> card = cardOf(m_person.value(2));
        person.card = card.value_or(0);
        if (!card && !m_badCards.contains(codigo))
            m_badCards << codigo;
    }
    m_person.finish();
    m_people.insert(codigo, person);
    return person;
}

void TicketStatements::storeServer(const RegistroTicket& r, const Person& person,
                                   const QString& loc) {
    QSqlQuery& q = m_tickets;
    q.bindValue(kP[0], loc);
    q.bindValue(kP[1], r.Codigo);
    q.bindValue(kP[2], person.name);
    const DateTimeParts p = decodeDateTime(r.FechaHora);
    q.bindValue(kP[3],
                dateText(p) + QLatin1Char(' ') + timeText(p.hour, p.minute, p.second, p.msec));
    q.bindValue(kP[4], r.Importe / 10.0);
    q.bindValue(kP[5], r.Cuenta);
    q.bindValue(kP[6], int(r.Ceco));
    q.bindValue(kP[7], person.card);
    q.bindValue(kP[8], r.Ticket);
    run(q, m_serverAlias, QStringLiteral("dbo.tickettaxis"));
}
