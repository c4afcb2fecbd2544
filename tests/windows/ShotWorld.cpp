#include "ShotWorld.h"

#include "RegionalFormats.h"
#include "StationEnvironment.h"
#include "collect/CollectWorld.h"
#include "collect/StationSettingsStore.h"
#include "cycles/CycleWorld.h"
#include "platform/Clock.h"

#include <QElapsedTimer>
#include <memory>

namespace {

// The shot day at 10:30, running on from there.
void setShotClock() {
    auto running = std::make_shared<QElapsedTimer>();
    running->start();
    setClock([running] { return QDateTime(kShotDay, QTime(10, 30)).addMSecs(running->elapsed()); });
}

// A constant cycle every five minutes, so that none starts among the
// pictures; the manual cycles write manual.txt in the working directory.
void writeStationSettings() {
    StationSettingsStore settings(QStringLiteral("JUXRegs"));
    settings.setAutoMin(true);
    settings.setDelayAutoMin(300);
    settings.setFileMan(QStringLiteral("manual.txt"));
    settings.save();
}

} // namespace

ShotWorld::ShotWorld(const QByteArray& aliases)
    : m_dir(QDir::temp().filePath(QStringLiteral("kivo-ip-guia"))) {
    m_dir.removeRecursively();
    m_dir.mkpath(QStringLiteral("."));
    useStationEnvironment(m_dir);
    QFile file(m_dir.filePath(QStringLiteral("aliases.ini")));
    if (file.open(QIODevice::WriteOnly))
        file.write(aliases);
    file.close();
    setShotClock();
    setOfficeRegionalFormats();
    writeStationSettings();
}

ShotWorld::~ShotWorld() {
    setClock({});
    m_dir.removeRecursively();
}

void ShotWorld::fillTables(const QString& localAlias) {
    appendPoints(
        localAlias,
        {{kLivePoint, QStringLiteral("Portón principal"), QStringLiteral("P01")},
         {kDeadPoint, QStringLiteral("Depósito Ñandú"), QStringLiteral("P02")},
         {QStringLiteral("127.0.2.3"), QStringLiteral("Andén sur"), QStringLiteral("P03"), false}});
    addPerson(localAlias, 4711, QStringLiteral("José María"), QStringLiteral("Pérez"), 104711);
    addPerson(localAlias, 815, QStringLiteral("Begoña"), QStringLiteral("Ibáñez"), 100815);
    addPerson(localAlias, 1203, QStringLiteral("Luis"), QStringLiteral("Gómez"), 101203);
    addPerson(localAlias, 990, QStringLiteral("Ana"), QStringLiteral("Sosa"), 100990, false);
    addCeco(localAlias, 120, 2, 30);
    addCeco(localAlias, 340, 1, 10);
}

// People 4711, 815 and 1203 in cost centres 120 and 340, and one legajo the
// personnel table does not know (902).
QList<SimRecord> ShotWorld::morningTickets(int firstTicket, int count) {
    static const struct {
        qint32 codigo;
        quint16 ceco;
        quint16 tenths;
    } kRides[] = {{4711, 120, 125}, {815, 120, 83},  {1203, 340, 201}, {4711, 120, 98},
                  {902, 340, 70},   {815, 120, 156}, {1203, 340, 112}, {4711, 120, 64}};
    const QDateTime epoch(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC);
    QList<SimRecord> records;
    for (int i = 0; i < count; ++i) {
        const auto& ride = kRides[(firstTicket + i) % std::size(kRides)];
        const QDateTime when(kShotDay, QTime(7, 5).addSecs((firstTicket + i) * 1020), Qt::UTC);
        SimRecord r;
        r.codigo = ride.codigo;
        r.segundos = static_cast<quint32>(epoch.secsTo(when));
        r.importe = ride.tenths;
        r.cuenta = 5100 + ride.codigo % 100;
        r.ticket = 1000 + firstTicket + i;
        r.ceco = ride.ceco;
        records << r;
    }
    return records;
}
