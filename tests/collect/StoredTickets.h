#pragma once

// What the four stores hold of a point's tickets, and the local copies of a
// point's files: the checks shared by the point's tests.

#include "CollectWorld.h"
#include "SimPoints.h"
#include "collect/RunState.h"

#include <QFile>
#include <QTest>
#include <algorithm>
#include <stdexcept>

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QStringList fileLines(const QString& path) {
    return QString::fromLatin1(fileBytes(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

// Ticket numbers stored in each of the four stores, sorted.
struct Stored {
    QList<int> lectura, lecturaBak, server, output;
};

inline QList<int> ticketsOf(const QString& alias, const QString& sql) {
    QList<int> tickets;
    for (const QVariantList& row : rowsOf(alias, sql))
        tickets << row.at(0).toInt();
    std::sort(tickets.begin(), tickets.end());
    return tickets;
}

inline Stored storedTickets(const CollectWorld& w, const QString& loc) {
    Stored s;
    s.lectura = ticketsOf(
        w.localAlias, QStringLiteral("SELECT NroTicket FROM lectura WHERE Origen = '%1'").arg(loc));
    s.lecturaBak =
        ticketsOf(w.localAlias,
                  QStringLiteral("SELECT NroTicket FROM lecturaBAK WHERE Origen = '%1'").arg(loc));
    if (w.serverAlias != QLatin1String("NONE"))
        s.server = ticketsOf(
            w.serverAlias,
            QStringLiteral("SELECT TICKET FROM tickettaxis WHERE ORIGEN = '%1'").arg(loc));
    for (const QString& line : fileLines(w.outputPath()))
        if (line.startsWith(loc + QLatin1Char(',')))
            s.output << line.section(QLatin1Char(','), 9, 9).toInt();
    std::sort(s.output.begin(), s.output.end());
    return s;
}

inline QList<int> ticketRange(int first, int count) {
    QList<int> t;
    for (int i = 0; i < count; ++i)
        t << first + i;
    return t;
}

inline void checkEachOnce(const CollectWorld& w, const QString& loc, const QList<int>& expected,
                          bool withServer = true) {
    const Stored s = storedTickets(w, loc);
    QCOMPARE(s.lectura, expected);
    QCOMPARE(s.lecturaBak, expected);
    if (withServer)
        QCOMPARE(s.server, expected);
    QCOMPARE(s.output, expected);
}

// A run left unfinished in the recovery state.
inline bool flagSaved() {
    return RunState::load(RunState::defaultPath()).unfinished;
}

// The local copies as a fetch leaves them, with their count.
inline bool writeLocalFiles(const QList<SimRecord>& held) {
    QFile count(QStringLiteral("nroRegAsist.ras")), records(QStringLiteral("regAsist.ras"));
    return count.open(QIODevice::WriteOnly) && records.open(QIODevice::WriteOnly) &&
           count.write(simCountFile(held.size())) == 2 &&
           records.write(simRecordFile(held)) == held.size() * 20;
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
