// kivo-demo: prepares a station's world for a demonstration, run in the
// station's working directory. It writes the simulator's configuration (two
// points on loopback with a few tickets dated today, numbered so that every run
// gives new tickets), lists the two points in the points table when it is
// empty, adds a few people and a cost centre when those tables are empty, and
// writes the settings with a 20-second constant trigger when there are none yet.
#include "collect/SettingsCodec.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Registry.h"
#include "store/Aliases.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {
struct DemoPoint {
    QString address, desc, loc;
    int tickets;
};
const QList<DemoPoint> kPoints = {
    {QStringLiteral("127.0.0.2"), QStringLiteral("Demo Planta"), QStringLiteral("1"), 3},
    {QStringLiteral("127.0.0.3"), QStringLiteral("Demo Portería"), QStringLiteral("2"), 4}};
constexpr int kFirstCode = 101;
constexpr int kDemoDelaySeconds = 20;

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

// The points count seconds from 1980-01-01 00:00:00.
qint64 pointSeconds(const QDateTime& at) {
    return QDateTime(QDate(1980, 1, 1), QTime(0, 0)).secsTo(at);
}

QJsonArray ticketsOf(int point, const DemoPoint& demo, const QDateTime& now) {
    // Ticket numbers from the clock: a later run never repeats an earlier one.
    const qint64 base = (now.toSecsSinceEpoch() % 100000) * 100 + point * 10;
    QJsonArray records;
    for (int i = 0; i < demo.tickets; ++i)
        records.append(QJsonArray{kFirstCode + i, double(pointSeconds(now.addSecs(-600 * (i + 1)))),
                                  55 + 10 * i, 7000 + i, double(base + i), 10 + point});
    return records;
}

void writeSimulatorConfig(const QString& path) {
    const QDateTime now = currentDateTime();
    QJsonArray points;
    for (int i = 0; i < kPoints.size(); ++i)
        points.append(
            QJsonObject{{QStringLiteral("address"), kPoints.at(i).address},
                        {QStringLiteral("records"), ticketsOf(i + 1, kPoints.at(i), now)}});
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Exception(QStringLiteral("cannot write ") + path);
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("points"), points}}).toJson());
}

void openTable(TTable& table, const QString& alias, const QString& name) {
    table.DatabaseName = alias;
    table.TableName = name;
    table.Open();
}

void listPoints(const QString& alias) {
    TTable points;
    openTable(points, alias, QStringLiteral("confRegIP.db"));
    if (points.RecordCount() > 0) {
        out() << "points table already lists " << points.RecordCount() << " point(s)\n";
        return;
    }
    for (const DemoPoint& point : kPoints) {
        points.Append();
        points.FieldByName(QStringLiteral("IP")).setAsString(point.address);
        points.FieldByName(QStringLiteral("Desc")).setAsString(point.desc);
        points.FieldByName(QStringLiteral("Loc")).setAsString(point.loc);
        points.FieldByName(QStringLiteral("Activo")).setAsBoolean(true);
        points.Post();
        out() << "listed " << point.address << " (" << point.desc << ")\n";
    }
}

void addPeople(const QString& alias) {
    TTable people;
    openTable(people, alias, QStringLiteral("personal.DBF"));
    if (people.RecordCount() == 0) {
        const QStringList names = {QStringLiteral("ANA|PAZ"), QStringLiteral("JOSÉ|NÚÑEZ"),
                                   QStringLiteral("LUZ|RÍOS"), QStringLiteral("OMAR|SOTO")};
        for (int i = 0; i < names.size(); ++i) {
            people.Append();
            people.FieldByName(QStringLiteral("CODIGO")).setAsInteger(kFirstCode + i);
            people.FieldByName(QStringLiteral("NOMBRES"))
                .setAsString(names.at(i).section('|', 0, 0));
            people.FieldByName(QStringLiteral("APELLIDOS"))
                .setAsString(names.at(i).section('|', 1));
            people.FieldByName(QStringLiteral("TARJETA")).setAsInteger(900 + i);
            people.FieldByName(QStringLiteral("GRUPO")).setAsInteger(1);
            people.FieldByName(QStringLiteral("SERV_TAXI")).setAsBoolean(true);
            people.Post();
        }
        out() << "added " << names.size() << " people to the personnel table\n";
    }
    TTable centres;
    openTable(centres, alias, QStringLiteral("ceco.DBF"));
    if (centres.RecordCount() == 0) {
        centres.Append();
        centres.FieldByName(QStringLiteral("CECO")).setAsInteger(11);
        centres.FieldByName(QStringLiteral("OVERTIME")).setAsInteger(0);
        centres.FieldByName(QStringLiteral("VIAJES")).setAsInteger(30);
        centres.Post();
    }
}

// Only when there are no settings yet: an existing key is never changed.
void writeFirstSettings(const QString& serverAlias) {
    TRegistry registry;
    if (registry.KeyExists(settingsKey(serverAlias)) ||
        !registry.OpenKey(settingsKey(serverAlias), true))
        return;
    StationSettings settings;
    settings.DelayAutoMin = kDemoDelaySeconds;
    settings.HoraAuto = encodeTime(23, 0, 0, 0);
    writeSettings(registry, settings);
    registry.CloseKey();
    out() << "settings written: constant download every " << kDemoDelaySeconds << " s\n";
}

int run(const QString& simulatorConfig) {
    writeSimulatorConfig(simulatorConfig);
    const AliasNames aliases = readAliasFile();
    TSession session;
    session.DeclareAlias(aliases.local, AliasKind::Local);
    listPoints(aliases.local);
    addPeople(aliases.local);
    writeFirstSettings(aliases.server);
    out().flush();
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        QTextStream(stderr) << "usage: kivo-demo SIMULATOR-CONFIG.json\n";
        return 2;
    }
    try {
        return run(app.arguments().at(1));
    } catch (const std::exception& error) {
        QTextStream(stderr) << "kivo-demo: " << error.what() << "\n";
        return 1;
    }
}
