// importbench: seconds kivo-import takes for 100,000 lectura rows (--rows N) and 5,000
// personnel rows, into the embedded database and into PostgreSQL
// (--pg host:port, else $KIVO_TEST_PG; role JUX, password 60728, a database
// of its own is created and dropped).
#include "ImportFixture.h"
#include "Importer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTime>

namespace {

int kLecturaRows = 100000;
constexpr int kPersonalRows = 5000;

void writeOldStation(const OldStation& old) {
    LegacyRows lectura;
    lectura.reserve(kLecturaRows);
    for (int i = 0; i < kLecturaRows; ++i)
        lectura.append({1000 + i % 750, QTime(i / 3600 % 24, i / 60 % 60),
                        QDate(2026, 1, 1).addDays(i % 365), i % 65536, i % 10, i,
                        QStringLiteral("PLANTA Ñ %1").arg(i % 20)});
    writeParadoxFile(old.path(QStringLiteral("lectura.DB")), lecturaColumns(), lectura);
    LegacyRows personal;
    for (int i = 0; i < kPersonalRows; ++i)
        personal.append({1000 + i, QStringLiteral("JOSÉ %1").arg(i), QStringLiteral("MUÑOZ"),
                         40000 + i, QString::number(i % 8), i % 7 != 0});
    writeDbfFile(old.path(QStringLiteral("personal.DBF")), personalColumns(), personal);
}

double timedImport(const OldStation& old) {
    QElapsedTimer timer;
    timer.start();
    ImportOptions options;
    options.directory = old.directory();
    options.alias = QStringLiteral("KIVO_1");
    const ImportReport report = importStation(options);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!report.ok()) {
        QTextStream(stderr) << report.text();
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.addOption(
        {QStringLiteral("pg"), QStringLiteral("PostgreSQL host:port"), QStringLiteral("address")});
    args.addOption({QStringLiteral("rows"), QStringLiteral("lectura.DB rows (default 100000)"),
                    QStringLiteral("count")});
    args.addOption({QStringLiteral("write-only"),
                    QStringLiteral("Only write the old station's files into this directory, "
                                   "to time or measure kivo-import itself on them."),
                    QStringLiteral("directory")});
    args.addHelpOption();
    args.process(app);
    if (args.isSet(QStringLiteral("rows")))
        kLecturaRows = args.value(QStringLiteral("rows")).toInt();
    if (args.isSet(QStringLiteral("write-only"))) {
        writeOldStation(OldStation(args.value(QStringLiteral("write-only"))));
        return 0;
    }
    if (args.isSet(QStringLiteral("pg")))
        qputenv("KIVO_TEST_PG", args.value(QStringLiteral("pg")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("KIVO_SOURCE_DIR"))
        qputenv("KIVO_SOURCE_DIR", KIVO_SOURCE_DIR);

    QTextStream out(stdout);
    StoreEnvironment env;
    OldStation old(env.path(QStringLiteral("old")));
    writeOldStation(old);
    out << "rows: " << kLecturaRows << " lectura.DB, " << kPersonalRows << " personal.DBF"
        << Qt::endl;
    {
        TSession session;
        out << QStringLiteral("embedded (SQLite): %1 s").arg(timedImport(old), 0, 'f', 2)
            << Qt::endl;
    }
    if (qEnvironmentVariableIsEmpty("KIVO_TEST_PG")) {
        out << "PostgreSQL: skipped (no --pg and no KIVO_TEST_PG)" << Qt::endl;
        return 0;
    }
    PostgresLocalDatabase database(env, QStringLiteral("KIVO_1"));
    if (!database.valid())
        return 1;
    {
        TSession session;
        out << QStringLiteral("PostgreSQL: %1 s").arg(timedImport(old), 0, 'f', 2) << Qt::endl;
    }
    return 0;
}
