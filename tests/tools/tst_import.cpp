// kivo-import: the old station's tables into the local alias, read back
// through the station's own data sets.
#include "ErrorOf.h"
#include "ImportFixture.h"
#include "Importer.h"
#include "IsolatedRead.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

const QString kLocal = QStringLiteral("KIVO_1");

// The points a cycle visits: the rows of confRegIP.db in table order whose
// Activo is true, read as the cycles read them.
QStringList activePoints(const QString& alias) {
    TTable tPrIP;
    tPrIP.DatabaseName = alias;
    tPrIP.TableName = QStringLiteral("confRegIP.db");
    tPrIP.Open();
    QStringList visited;
    for (tPrIP.First(); !tPrIP.Eof(); tPrIP.Next())
        if (tPrIP.FieldByName(QStringLiteral("Activo")).AsBoolean())
            visited << tPrIP.FieldByName(QStringLiteral("IP")).AsString() + QLatin1Char(' ') +
                           tPrIP.FieldByName(QStringLiteral("Desc")).AsString() + QLatin1Char(' ') +
                           tPrIP.FieldByName(QStringLiteral("Loc")).AsString();
    return visited;
}

// The personnel the parameter message carries: the synchronisation's own
// SQL text, as "code name surname card group".
QStringList entitledPersonnel(const QString& alias) {
    TQuery qPersonal;
    qPersonal.DatabaseName = alias;
    qPersonal.SQL << QStringLiteral("select * from personal.dbf")
                  << QStringLiteral("where SERV_TAXI = TRUE;");
    qPersonal.Open();
    QStringList people;
    for (qPersonal.First(); !qPersonal.Eof(); qPersonal.Next())
        people << QStringLiteral("%1 %2 %3 %4 %5")
                      .arg(qPersonal.FieldByName(QStringLiteral("CODIGO")).AsInteger())
                      .arg(qPersonal.FieldByName(QStringLiteral("NOMBRES")).AsString(),
                           qPersonal.FieldByName(QStringLiteral("APELLIDOS")).AsString())
                      .arg(qPersonal.FieldByName(QStringLiteral("TARJETA")).AsInteger())
                      .arg(qPersonal.FieldByName(QStringLiteral("GRUPO")).AsInteger());
    return people;
}

ImportReport importInto(const OldStation& old, bool replace = false) {
    return importStation({old.directory(), kLocal, replace});
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_world = std::make_unique<StoreWorld>();
        m_old = std::make_unique<OldStation>(m_world->env.path(QStringLiteral("old")));
    }
    void cleanup() {
        m_old.reset();
        m_world.reset();
    }

    void importedRowsReadAsTheStationWroteThem();
    void secondRunRefusedThenReplaced();
    void missingTableAndUnknownColumnAreReportedAndSkipped();
    void fileNamesMatchWithoutRegardToCase();
    void badInputImportsNothing_data();
    void badInputImportsNothing();
    void dosCodePageIsDecoded();
    void readOnlyDatabaseImportsNothing();
    void commandLineExitStatus();
    void importIntoPostgres();
    void readerThatHangsOrCrashesIsStopped();
    void readOnlyPostgresImportsNothing();

private:
    std::unique_ptr<StoreWorld> m_world;
    std::unique_ptr<OldStation> m_old;
};

void TestImport::importedRowsReadAsTheStationWroteThem() {
    m_old->writeAll();
    const ImportReport report = importInto(*m_old);
    QVERIFY2(report.ok(), qPrintable(report.text()));

    QCOMPARE(activePoints(kLocal), QStringList{"10.0.0.5 Portería Ñandú PLANTA Ñ"});
    // The deleted row of personal.DBF is skipped, with its reason.
    QCOMPARE(entitledPersonnel(kLocal), QStringList{"1001 JOSÉ MARÍA MUÑOZ 4242 3"});
    const TableReport& personal = report.tables[4];
    QCOMPARE(personal.table, QStringLiteral("personal.DBF"));
    QCOMPARE(personal.read, 4);
    QCOMPARE(personal.imported, 3);
    QCOMPARE(personal.skipped, 1);
    QVERIFY(personal.notes.join('\n').contains(QStringLiteral("row 4 is marked deleted")));

    TQuery qPersonal2; // the look-up of the record storage
    qPersonal2.DatabaseName = kLocal;
    qPersonal2.SQL << QStringLiteral("select * from personal.dbf")
                   << QStringLiteral("where CODIGO = 2147483647;");
    qPersonal2.Open();
    QCOMPARE(qPersonal2.RecordCount(), 1);
    QCOMPARE(qPersonal2.FieldByName(QStringLiteral("APELLIDOS")).AsString(),
             QStringLiteral("PEÑA"));
    QCOMPARE(qPersonal2.FieldByName(QStringLiteral("SERV_TAXI")).AsBoolean(), false);

    TTable lectura;
    lectura.DatabaseName = kLocal;
    lectura.TableName = QStringLiteral("lectura.DB");
    lectura.Open();
    QCOMPARE(lectura.RecordCount(), 3);
    QCOMPARE(lectura.FieldByName(QStringLiteral("Hora")).AsDateTime(), encodeTime(10, 27, 0));
    QCOMPARE(lectura.FieldByName(QStringLiteral("Fecha")).AsDateTime(), encodeDate(2026, 12, 8));
    QCOMPARE(lectura.FieldByName(QStringLiteral("Loc")).AsInteger(), 125);
    QCOMPARE(lectura.FieldByName(QStringLiteral("Origen")).AsString(), QStringLiteral("PLANTA Ñ"));
    lectura.Next();
    QCOMPARE(lectura.FieldByName(QStringLiteral("Codigo")).AsInteger(), INT_MAX);
    QCOMPARE(lectura.FieldByName(QStringLiteral("Cta")).AsInteger(), -INT_MAX);
    QCOMPARE(lectura.FieldByName(QStringLiteral("Loc")).AsInteger(), 65535);
    QCOMPARE(lectura.FieldByName(QStringLiteral("Fecha")).AsDateTime(), encodeDate(9999, 12, 31));
    QCOMPARE(lectura.FieldByName(QStringLiteral("Hora")).AsDateTime(), encodeTime(23, 59, 59, 999));
    lectura.Next();
    for (const char* field : {"Codigo", "Hora", "Fecha", "Loc", "Origen"})
        QVERIFY2(lectura.FieldByName(QLatin1String(field)).IsNull(), field);

    TTable backup;
    backup.DatabaseName = kLocal;
    backup.TableName = QStringLiteral("lecturaBAK.db");
    backup.Open();
    QCOMPARE(backup.FieldByName(QStringLiteral("Hora")).AsDateTime(), encodeTime(10, 27, 45));

    TTable log;
    log.DatabaseName = kLocal;
    log.TableName = QStringLiteral("log.DB");
    log.Open();
    QVERIFY(log.FieldByName(QStringLiteral("NroRegAsist")).IsNull());
    log.Last();
    QCOMPARE(log.FieldByName(QStringLiteral("NroRegAsist")).AsInteger(), 42);
    QCOMPARE(log.FieldByName(QStringLiteral("Archivo")).AsString(),
             QStringLiteral("PLANTA Ñ: c:\\kivo\\descarga20261208.txt"));
    QCOMPARE(log.FieldByName(QStringLiteral("Hora")).AsDateTime(), encodeTime(10, 28, 1));

    TQuery qCeco;
    qCeco.DatabaseName = kLocal;
    qCeco.SQL << QStringLiteral("select * from ceco.dbf;");
    qCeco.Open();
    qCeco.Last();
    QCOMPARE(qCeco.FieldByName(QStringLiteral("CECO")).AsInteger(), INT_MAX);
    QCOMPARE(qCeco.FieldByName(QStringLiteral("OVERTIME")).AsInteger(), -INT_MAX);
}

void TestImport::secondRunRefusedThenReplaced() {
    m_old->writeAll();
    QVERIFY(importInto(*m_old).ok());
    const ImportReport again = importInto(*m_old);
    QVERIFY(!again.ok());
    QVERIFY(!again.written);
    for (const TableReport& table : again.tables)
        QVERIFY2(table.errors.join('\n').contains(QStringLiteral("already holds")),
                 qPrintable(table.table));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 3);

    const ImportReport replaced = importInto(*m_old, true);
    QVERIFY2(replaced.ok(), qPrintable(replaced.text()));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 3);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("personal.DBF")), 3);
    QCOMPARE(activePoints(kLocal).size(), 1);
}

void TestImport::missingTableAndUnknownColumnAreReportedAndSkipped() {
    m_old->writePersonal({{QStringLiteral("EMAIL"), 'C', 30}});
    const ImportReport report = importInto(*m_old);
    QVERIFY2(report.ok(), qPrintable(report.text()));
    QCOMPARE(report.tables.size(), 6);
    QVERIFY(report.tables[0].file.isEmpty());
    QVERIFY(report.tables[0].notes.join('\n').contains(QStringLiteral("no such file")));
    QVERIFY(report.tables[4].notes.join('\n').contains(QStringLiteral("column EMAIL")));
    QCOMPARE(entitledPersonnel(kLocal).size(), 1);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 0);

    // A directory without any of the tables is most likely the wrong one.
    const ImportReport none =
        importStation({m_world->env.path(QStringLiteral("work")), kLocal, false});
    QVERIFY(!none.ok());
    QVERIFY(none.text().contains(QStringLiteral("none of the station's tables")));
}

void TestImport::fileNamesMatchWithoutRegardToCase() {
    m_old->writeLectura(QStringLiteral("LECTURA.db"));
    writeDbfFile(m_old->path(QStringLiteral("Ceco.dbf")), cecoColumns(), {{1, 2, 3}});
    const ImportReport report = importInto(*m_old);
    QVERIFY2(report.ok(), qPrintable(report.text()));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 3);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 1);
}

// Each case spoils one table; the good ceco.DBF beside it must not be
// written either, and the message names the table, the row and the field.
void TestImport::badInputImportsNothing_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("expected");
    QTest::newRow("truncated .DB") << "lectura.DB"
                                   << "truncated";
    QTest::newRow("truncated .DBF") << "personal.DBF"
                                    << "truncated";
    QTest::newRow("empty file") << "log.DB"
                                << "empty";
    QTest::newRow("foreign file") << "confRegIP.db"
                                  << "not a Paradox table";
    QTest::newRow("text outside the code page") << "confRegIP.db"
                                                << "row 1, field Desc";
    QTest::newRow("unknown code page") << "personal.DBF"
                                       << "language driver";
    QTest::newRow("date that does not exist") << "lectura.DB"
                                              << "row 1, field Fecha";
    QTest::newRow("time past midnight") << "log.DB"
                                        << "row 1, field Hora";
    QTest::newRow("number overflows") << "personal.DBF"
                                      << "row 1, field TARJETA";
    QTest::newRow("group not a number") << "personal.DBF"
                                        << "row 1, field GRUPO";
    QTest::newRow("fraction in a code") << "personal.DBF"
                                        << "row 1, field CODIGO";
}

void TestImport::badInputImportsNothing() {
    QFETCH(QString, table);
    QFETCH(QString, expected);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    m_old->writeCeco();
    const QString file = m_old->path(table);
    auto truncate = [&](const QString& path) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() - 100));
    };
    auto personalRow = [&](const QVariantList& row,
                           const QList<DbfColumn>& columns = personalColumns()) {
        writeDbfFile(file, columns, {row});
    };
    if (tag == "truncated .DB") {
        m_old->writeLectura();
        truncate(file);
    } else if (tag == "truncated .DBF") {
        LegacyRows many(50, {1, "A", "B", 1, "1", true});
        writeDbfFile(file, personalColumns(), many);
        truncate(file);
    } else if (tag == "empty file") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (tag == "foreign file") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("IP,Desc,Loc,Activo\r\n10.0.0.5,Portería,P1,1\r\n").repeated(200));
    } else if (tag == "text outside the code page") {
        writeParadoxFile(file, confRegIPColumns(),
                         {{"10.0.0.5",
                           QByteArray("Porter\x81"
                                      "a"),
                           "P1", true}});
    } else if (tag == "unknown code page") {
        writeDbfFile(file, personalColumns(), {{1, "A", "B", 1, "1", true}},
                     QStringLiteral("LDID/250"));
    } else if (tag == "date that does not exist") {
        // Day 4,000,000 of the calendar lies past the year 9999.
        writeParadoxFile(file, lecturaColumns(), {{1, QTime(1, 0), 4000000, 1, 1, 1, "X"}});
    } else if (tag == "time past midnight") {
        writeParadoxFile(file, logColumns(), {{QDate(2026, 1, 1), 90000000, "X", 1}});
    } else if (tag == "number overflows") {
        personalRow({1, "A", "B", QByteArray("99999999999"), "1", true});
    } else if (tag == "group not a number") {
        personalRow({1, "A", "B", 1, "12x", true});
    } else if (tag == "fraction in a code") {
        personalRow({QByteArray("12.5"), "A", "B", 1, "1", true}, {{"CODIGO", 'N', 10, 1},
                                                                   {"NOMBRES", 'C', 20},
                                                                   {"APELLIDOS", 'C', 20},
                                                                   {"TARJETA", 'N', 11, 0},
                                                                   {"GRUPO", 'C', 20},
                                                                   {"SERV_TAXI", 'L', 1}});
    }
    const ImportReport report = importInto(*m_old);
    QVERIFY(!report.ok());
    QVERIFY(!report.written);
    const TableReport* spoilt = nullptr;
    for (const TableReport& t : report.tables)
        if (t.table == table)
            spoilt = &t;
    QVERIFY(spoilt);
    QVERIFY2(spoilt->errors.join('\n').contains(expected), qPrintable(report.text()));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
    QVERIFY(report.text().contains(QStringLiteral("nothing was written")));
}

void TestImport::dosCodePageIsDecoded() {
    writeDbfFile(m_old->path(QStringLiteral("personal.DBF")), personalColumns(),
                 {{5, QStringLiteral("ÑANDÚ"), QStringLiteral("GÜEMES"), 1, "2", true}},
                 QStringLiteral("LDID/2"));
    writeParadoxFile(m_old->path(QStringLiteral("confRegIP.db")), confRegIPColumns(),
                     {{"10.0.0.9", QStringLiteral("Almacén Ñ"), "ALM", true}}, 850);
    const ImportReport report = importInto(*m_old);
    QVERIFY2(report.ok(), qPrintable(report.text()));
    QCOMPARE(entitledPersonnel(kLocal), QStringList{"5 ÑANDÚ GÜEMES 1 2"});
    QCOMPARE(activePoints(kLocal), QStringList{"10.0.0.9 Almacén Ñ ALM"});
}

void TestImport::readOnlyDatabaseImportsNothing() {
    // Create the embedded database, then take the right to write it away.
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
    m_world->session.closeAll();
    const QString database = AliasConfig::embeddedPath(kLocal);
    QVERIFY(
        QFile::setPermissions(database, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QFile probe(database);
    if (probe.open(QIODevice::ReadWrite))
        QSKIP("this user writes read-only files (root); the PostgreSQL test covers it");
    m_old->writeAll();
    const ImportReport report = importInto(*m_old);
    QVERIFY(!report.ok());
    QVERIFY2(report.text().contains(QStringLiteral("nothing was written")),
             qPrintable(report.text()));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
}

void TestImport::commandLineExitStatus() {
    const QString tool =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../../tools/import/kivo-import");
    if (!QFile::exists(tool))
        QSKIP("kivo-import is not built");
    m_old->writeCeco();
    QProcess run;
    run.start(tool, {m_old->directory()});
    QVERIFY(run.waitForFinished(60000));
    const QString output = QString::fromUtf8(run.readAllStandardOutput());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY2(output.contains(QStringLiteral("ceco.DBF: 2 read, 2 imported, 0 skipped")),
             qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("lectura.DB: 0 read")));
    run.start(tool, {m_old->directory()});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 1);
    QVERIFY(QString::fromUtf8(run.readAllStandardOutput())
                .contains(QStringLiteral("already holds 2 rows")));
}

void TestImport::importIntoPostgres() {
    if (qEnvironmentVariableIsEmpty("KIVO_TEST_PG"))
        QSKIP("KIVO_TEST_PG is not set");
    PostgresLocalDatabase database(m_world->env, kLocal);
    QVERIFY(database.valid());
    m_old->writeAll();
    const ImportReport report = importInto(*m_old);
    QVERIFY2(report.ok(), qPrintable(report.text()));
    QCOMPARE(activePoints(kLocal), QStringList{"10.0.0.5 Portería Ñandú PLANTA Ñ"});
    QCOMPARE(entitledPersonnel(kLocal), QStringList{"1001 JOSÉ MARÍA MUÑOZ 4242 3"});
    TTable backup;
    backup.DatabaseName = kLocal;
    backup.TableName = QStringLiteral("lecturaBAK.db");
    backup.Open();
    QCOMPARE(backup.FieldByName(QStringLiteral("Hora")).AsDateTime(), encodeTime(10, 27, 45));
    QCOMPARE(backup.FieldByName(QStringLiteral("Fecha")).AsDateTime(), encodeDate(2026, 12, 8));
    backup.Close();
    QVERIFY(!importInto(*m_old).ok());
    QVERIFY(importInto(*m_old, true).ok());
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lecturaBAK.db")), 3);
    m_world->session.closeAll();
}

void TestImport::readOnlyPostgresImportsNothing() {
    if (qEnvironmentVariableIsEmpty("KIVO_TEST_PG"))
        QSKIP("KIVO_TEST_PG is not set");
    PostgresLocalDatabase database(m_world->env, kLocal, true);
    QVERIFY(database.valid());
    m_old->writeAll();
    const ImportReport report = importInto(*m_old);
    QVERIFY(!report.ok());
    QVERIFY2(report.text().contains(QStringLiteral("read-only")), qPrintable(report.text()));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
    m_world->session.closeAll();
}

// pxlib may loop for ever or crash on a damaged file: the read runs in a
// child process, and either ends as an error for that table.
void TestImport::readerThatHangsOrCrashesIsStopped() {
    const QString hung = errorOf([] {
        readInChildProcess(
            []() -> LegacyTable {
                for (;;)
                    pause();
            },
            300);
    });
    QVERIFY2(hung.contains(QStringLiteral("did not end")), qPrintable(hung));
    const QString crashed =
        errorOf([] { readInChildProcess([]() -> LegacyTable { abort(); }, 10000); });
    QVERIFY2(crashed.contains(QStringLiteral("its reader stopped")), qPrintable(crashed));
    const QString refused = errorOf([] {
        readInChildProcess([]() -> LegacyTable { throw ELegacyTable(QStringLiteral("no")); },
                           10000);
    });
    QCOMPARE(refused, QStringLiteral("no"));
    const LegacyTable table = readInChildProcess(
        [] {
            LegacyTable t;
            t.codec = QStringLiteral("IBM850");
            t.columns.append({QStringLiteral("Fecha"), LegacyType::Date, QStringLiteral("Date")});
            t.rows.push_back({7, false, {{QDate(2026, 12, 8), QString()}}});
            return t;
        },
        10000);
    QCOMPARE(table.codec, QStringLiteral("IBM850"));
    QCOMPARE(table.rows.at(0).number, 7);
    QCOMPARE(table.rows.at(0).cells.at(0).value.toDate(), QDate(2026, 12, 8));
}

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
