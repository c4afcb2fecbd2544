#pragma once

// The station's world for the pictures of the operator's guide: its files in
// the folder "kivo-ip-guia" of the temporary folder (a fixed name, since
// the pictures show the output file's path), a fixed day (so that the pictures change only when
// the windows do), regional formats of a Spanish-speaking office, and sample
// points, personnel, cost centres and tickets.

#include "SimPoints.h"

#include <QDate>
#include <QDir>

inline const QDate kShotDay(2026, 3, 17);
// The simulated point that hands over tickets, and one that is switched off.
inline const QString kLivePoint = QStringLiteral("127.0.2.1");
inline const QString kDeadPoint = QStringLiteral("127.0.2.2");

class ShotWorld {
public:
    // Files, clock, regional formats and the station's settings; the alias
    // configuration is written as given (empty: the embedded databases).
    explicit ShotWorld(const QByteArray& aliases = {});
    ~ShotWorld();

    // Points, personnel and cost centres in the local alias's tables.
    static void fillTables(const QString& localAlias);
    // count tickets of the shot day's morning, numbered from firstTicket.
    static QList<SimRecord> morningTickets(int firstTicket, int count);

private:
    QDir m_dir;
};
