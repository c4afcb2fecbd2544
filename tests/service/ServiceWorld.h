#pragma once

// kivo-ipd in a world of its own (registry, aliases, databases, working
// directory, machine-wide name): its settings, points and server, started
// or run to its end.
#include "SimPoints.h"
#include "StationEnvironment.h"
#include "StationTables.h"
#include "collect/SettingsCodec.h"
#include "platform/Registry.h"
#include "store/Session.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>

class ServiceWorld : public StationWorld {
public:
    void writeSettings(const StationSettings& settings,
                       const QString& serverAlias = QStringLiteral("JUXRegs")) const {
        TRegistry registry;
        registry.OpenKey(settingsKey(serverAlias), true);
        ::writeSettings(registry, settings);
        registry.CloseKey();
    }

    void addPoints(const QStringList& addresses,
                   const QString& locPrefix = QStringLiteral("L")) const {
        TSession session;
        session.DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        int n = 0;
        for (const QString& ip : addresses) {
            ++n;
            appendRow(QStringLiteral("confRegIP.db"), {{"IP", ip},
                                                       {"Desc", QStringLiteral("P%1").arg(n)},
                                                       {"Loc", locPrefix + QString::number(n)},
                                                       {"Activo", true}});
        }
        appendRow(QStringLiteral("personal.DBF"), {{"CODIGO", 100},
                                                   {"NOMBRES", "ANA"},
                                                   {"APELLIDOS", "PAZ"},
                                                   {"TARJETA", 7},
                                                   {"GRUPO", 1},
                                                   {"SERV_TAXI", true}});
    }

    // The server alias PGSERVER on the test's PostgreSQL (KIVO_TEST_PG).
    void useServer(const QString& hostPort) const {
        QFile aliases(path("aliases.ini"));
        aliases.open(QIODevice::WriteOnly);
        aliases.write(QStringLiteral("[PGSERVER]\nDriver=postgres\nHost=%1\nPort=%2\n"
                                     "Database=kivo_test\n")
                          .arg(hostPort.section(QLatin1Char(':'), 0, 0),
                               hostPort.section(QLatin1Char(':'), 1))
                          .toUtf8());
        QFile names(path("work/dbAlias.txt"));
        names.open(QIODevice::WriteOnly);
        names.write("KIVO_1\r\nPGSERVER\r\n");
    }

    // Starts kivo-ipd in the working directory with the simulator's ports.
    void start(QProcess& service, const QStringList& args, const SimPoints* sim) const {
        service.setProcessEnvironment(sim ? environment(sim->ftpPort(), sim->paramPort())
                                          : environment());
        service.setWorkingDirectory(path("work"));
        service.start(QStringLiteral(KIVO_SERVICE_BINARY), args);
    }

    // Runs it to its end: the exit status and what it wrote to standard error.
    std::pair<int, QString> run(const QStringList& args, const SimPoints* sim = nullptr) const {
        QProcess service;
        start(service, args, sim);
        if (!service.waitForFinished(120000))
            return {-1, QStringLiteral("did not end")};
        return {service.exitCode(), QString::fromUtf8(service.readAllStandardError())};
    }
};

// Starts the service with no trigger on and waits until it says it runs.
inline void startWaiting(const ServiceWorld& world, QProcess& service, const SimPoints* sim) {
    world.start(service, {}, sim);
    QVERIFY(service.waitForStarted());
    QString journal;
    QDeadlineTimer deadline(30000);
    while (!journal.contains(QStringLiteral("Estación en marcha")) && !deadline.hasExpired() &&
           service.state() == QProcess::Running) {
        service.waitForReadyRead(1000);
        journal += QString::fromUtf8(service.readAllStandardError());
    }
    QVERIFY2(journal.contains(QStringLiteral("<6>Estación en marcha")), qPrintable(journal));
}

inline QString controlSocket(const ServiceWorld& world) {
    return world.statePath("kivo-ipd.sock");
}

// One line to the service's socket and its answer.
inline QByteArray ask(const ServiceWorld& world, const QByteArray& line) {
    QLocalSocket socket;
    socket.connectToServer(controlSocket(world));
    if (!socket.waitForConnected(5000))
        return "<no connection>";
    socket.write(line);
    QDeadlineTimer deadline(10000);
    while (!socket.canReadLine() && !deadline.hasExpired())
        socket.waitForReadyRead(500);
    return socket.readLine().trimmed();
}
