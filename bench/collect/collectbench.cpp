// One full point on loopback against the simulator: fetch, store in all four
// stores with one personnel lookup per record, push the lists. Prints the
// seconds for 1,000, 10,000 and 65,535 records, and the storing alone against
// a raw single-transaction bulk insert of the same rows into the same tables;
// PostgreSQL as the server too when KIVO_TEST_PG is set.
//   collectbench [record count...]
#include "CollectWorld.h"
#include "SimPoints.h"
#include "collect/Ticket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>
#include <sys/resource.h>

namespace {

const QString kIp = QStringLiteral("127.0.2.1");

// CPU seconds of this process so far: on a busy machine the wall clock also
// counts the time other processes had the cores.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double full = 0;    // fetch, store, push
    double fullCpu = 0; // the same in CPU seconds of the station's side
    double storing = 0; // from the end of the fetch to the output on disk
    double bulk = 0;    // raw inserts of the same rows
};

void addPeople(const QString& alias, int count) {
    QSqlQuery q(TSession::current().connectionFor(alias));
    q.exec(QStringLiteral("BEGIN"));
    for (int i = 0; i < count; ++i)
        q.exec(QStringLiteral("INSERT INTO personal (CODIGO, NOMBRES, APELLIDOS, TARJETA, GRUPO, "
                              "SERV_TAXI) VALUES (%1, 'NOMBRE', 'APELLIDO %1', %2, 1, 1)")
                   .arg(100 + i)
                   .arg(5000 + i));
    q.exec(QStringLiteral("COMMIT"));
}

void exec(QSqlQuery& q) {
    if (!q.exec())
        qFatal("%s", qPrintable(q.lastError().text()));
}

// The same rows, decoded from the same local record file, in one transaction
// per database with statements prepared once: the floor for the storing.
double bulkInsert(const CollectWorld& w, int count) {
    QElapsedTimer t;
    t.start();
    QSqlDatabase local = TSession::current().connectionFor(w.localAlias);
    QSqlDatabase server = TSession::current().connectionFor(w.serverAlias);
    local.transaction();
    server.transaction();
    QSqlQuery lectura(local), bak(local), tickets(server);
    const QString localInsert =
        QStringLiteral("INSERT INTO %1 (Codigo, Hora, Fecha, Loc, Cta, NroTicket, Origen) VALUES "
                       "(:p0, :p1, :p2, :p3, :p4, :p5, :p6)");
    lectura.prepare(localInsert.arg(QStringLiteral("lectura")));
    bak.prepare(localInsert.arg(QStringLiteral("lecturaBAK")));
    tickets.prepare(
        QStringLiteral("INSERT INTO tickettaxis (ORIGEN, LEGAJO, NOMBRES, FECHA, IMPORTE, "
                       "CUENTA, CECO, TARJETA, TICKET, VERIFICADO) VALUES (:p0, :p1, :p2, :p3, "
                       ":p4, :p5, :p6, :p7, :p8, 0)"));
    QStringList names; // named placeholders bind cheaper than positions
    for (int k = 0; k < 9; ++k)
        names << QStringLiteral(":p%1").arg(k);
    RecordReader reader(kRecordFile);
    RegistroTicket r;
    for (int i = 0; i < count && reader.leerRegistro(r) == RecordReader::Result::Record; ++i) {
        for (QSqlQuery* q : {&lectura, &bak}) {
            const QVariantList values{r.Codigo,
                                      QStringLiteral("07:30:00.000"),
                                      QStringLiteral("2024-03-05"),
                                      r.Importe,
                                      r.Cuenta,
                                      r.Ticket,
                                      QStringLiteral("BULK")};
            for (int k = 0; k < values.size(); ++k)
                q->bindValue(names.at(k), values.at(k));
            exec(*q);
        }
        const QVariantList values{QStringLiteral("BULK"),
                                  r.Codigo,
                                  QStringLiteral("NOMBRE"),
                                  QStringLiteral("2024-03-05 07:30:15.000"),
                                  r.Importe / 10.0,
                                  r.Cuenta,
                                  r.Ceco,
                                  5000,
                                  r.Ticket};
        for (int k = 0; k < values.size(); ++k)
            tickets.bindValue(names.at(k), values.at(k));
        exec(tickets);
    }
    local.commit();
    server.commit();
    return t.elapsed() / 1000.0;
}

Figures runPoint(int count, bool postgres) {
    CollectWorld w(postgres);
    SimPoints sim({{kIp, simRecords(count)}});
    if (!sim.started())
        qFatal("the simulator did not start");
    sim.applyPorts();
    PointHarness h(w.localAlias, w.serverAlias, 60000);
    addPeople(w.localAlias, 50);
    QElapsedTimer clock;
    qint64 fetched = 0, written = 0;
    h.work->setProbe([&](const char* step, int) {
        if (qstrcmp(step, "after-delete") == 0)
            fetched = clock.nsecsElapsed();
        else if (qstrcmp(step, "output-written") == 0)
            written = clock.nsecsElapsed();
    });
    CycleOutput out{w.outputPath()};
    const double cpuBefore = cpuSeconds();
    clock.start();
    h.work->Descargar(kIp, QStringLiteral("Bench"), QStringLiteral("B01"), out);
    h.work->closeFtp();
    h.work->sincronizarPar(kIp, QStringLiteral("Bench"), QStringLiteral("B01"));
    Figures f;
    f.full = clock.nsecsElapsed() / 1e9;
    f.fullCpu = cpuSeconds() - cpuBefore;
    f.storing = (written - fetched) / 1e9;
    if (!h.report.memo.contains(QStringLiteral("%1 registro(s).").arg(count)) ||
        !h.report.memo.contains(QStringLiteral("OK.")))
        qFatal("the point's work failed: %s", qPrintable(h.report.memo));
    f.bulk = bulkInsert(w, count);
    if (postgres)
        rowsOf(w.serverAlias,
               QStringLiteral("DELETE FROM dbo.tickettaxis WHERE ORIGEN IN ('B01', 'BULK')"));
    return f;
}

void report(const char* server, bool postgres, const QList<int>& counts) {
    std::printf("server %s\n", server);
    std::printf("%8s %10s %10s %10s %10s %8s\n", "records", "full s", "full cpu s", "storing s",
                "bulk s", "ratio");
    for (int count : counts) {
        const Figures f = runPoint(count, postgres);
        std::printf("%8d %10.3f %10.3f %10.3f %10.3f %8.2f\n", count, f.full, f.fullCpu, f.storing,
                    f.bulk, f.storing / f.bulk);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Other record counts may be given as arguments.
    QList<int> counts;
    for (const QString& arg : app.arguments().mid(1))
        counts << qBound(1, arg.toInt(), 65535);
    if (counts.isEmpty())
        counts = {1000, 10000, 65535};
    report("embedded (SQLite)", false, counts);
    if (!qEnvironmentVariableIsEmpty("KIVO_TEST_PG"))
        report("PostgreSQL", true, counts);
    return 0;
}
