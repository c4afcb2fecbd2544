#pragma once

#include "collect/Ticket.h"

#include <QHash>
#include <QSqlQuery>
#include <QString>

// The statements of one storing run, prepared once and run for every record:
// the rows of lectura.DB and lecturaBAK.db, the personnel lookup and the row
// of the server table, with the values and forms the data sets write. The
// data sets prepare a statement per row, which a run of 65,535 records cannot
// afford.
class TicketStatements {
public:
    // An empty alias leaves that database out.
    TicketStatements(const QString& localAlias, const QString& serverAlias);

    void storeLocal(const RegistroTicket& r, const QString& loc);
    Person lookUp(qint32 codigo);
    void storeServer(const RegistroTicket& r, const Person& person, const QString& loc);
    // Codes whose TARJETA is no number a 32-bit column holds; stored as 0.
    const QList<qint32>& badCards() const { return m_badCards; }

private:
    void run(QSqlQuery& query, const QString& alias, const QString& what);

    QString m_localAlias, m_serverAlias;
    QSqlQuery m_lectura, m_lecturaBak, m_person, m_tickets;
    QList<qint32> m_badCards;
    QHash<qint32, Person> m_people; // looked up in this run
};
