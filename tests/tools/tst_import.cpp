// kivo-import: the old station's tables into the local alias, read back
// through the station's own data sets.
#include "ErrorOf.h"
#include "ImportFixture.h"
#include "Importer.h"
#include "IsolatedRead.h"
#include "platform/Registry.h"
#include "store/Aliases.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringEncoder>
#include <QTest>
#include <QtEndian>
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

ImportOptions optionsFor(const OldStation& old) {
    ImportOptions options;
    options.directory = old.directory();
    options.alias = kLocal;
    return options;
}

ImportReport importInto(const OldStation& old, bool replace = false) {
    ImportOptions options = optionsFor(old);
    options.replace = replace;
    return importStation(options);
}

const TableReport& tableOf(const ImportReport& report, const QString& table) {
    for (const TableReport& t : report.tables)
        if (t.table == table)
            return t;
    qFatal("no report of %s", qPrintable(table));
}

// Patches a little-endian count in a file's header.
void patchCount(const QString& path, qint64 offset, quint32 count) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(offset));
    char bytes[4];
    qToLittleEndian(count, bytes);
    QCOMPARE(file.write(bytes, 4), qint64(4));
}

QString toolPath() {
    return QCoreApplication::applicationDirPath() +
           QStringLiteral("/../../tools/import/kivo-import");
}

QStringList lecturaCodes(const QString& alias) {
    TQuery q;
    q.DatabaseName = alias;
    q.SQL << QStringLiteral("select * from lectura.db order by Codigo;");
    q.Open();
    QStringList codes;
    for (q.First(); !q.Eof(); q.Next())
        codes << (q.FieldByName(QStringLiteral("Codigo")).IsNull()
                      ? QStringLiteral("-")
                      : QString::number(q.FieldByName(QStringLiteral("Codigo")).AsInteger()));
    return codes;
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
    void fieldsLongerThanTheRecordAreRefused();
    void readOnlyPostgresImportsNothing();
    void rowsBeyondTheHeadersCount_data();
    void rowsBeyondTheHeadersCount();
    void replaceSaysWhatItDeletesAndKeepsACopy();
    void keepCollectedAddsTheOldStationsRows();
    void missingStationColumnRefusesTheTable();
    void twoFilesForOneTableAreRefused();
    void dryRunWritesNothing();
    void codePageChosenPerTable();
    void controlCharactersAndAsterisksAreSaid();
    void commandLineMistakesExitTwo();
    void tablesAndSettingsGoOverTogether();
    void lateProblemUndoesTheBatchesWritten();

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
    QVERIFY2(
        personal.notes.join('\n').contains(QStringLiteral(
            "1 registro(s) marcado(s) como borrado(s) en el archivo: omitido(s) (registro 4)")),
        qPrintable(report.text()));
    // Each table names the code page its text was read in.
    QCOMPARE(personal.codec, QStringLiteral("windows-1252 (indicada por el archivo (LDID/87))"));
    QCOMPARE(report.tables[0].codec,
             QStringLiteral("windows-1252 (indicada por el archivo (1252))"));

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
        QVERIFY2(table.errors.join('\n').contains(QStringLiteral("ya tiene")),
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
    QVERIFY(report.tables[0].notes.join('\n').contains(QStringLiteral("no existe el archivo")));
    QVERIFY(report.tables[4].notes.join('\n').contains(QStringLiteral("columna EMAIL")));
    QCOMPARE(entitledPersonnel(kLocal).size(), 1);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 0);

    // A directory without any of the tables is most likely the wrong one.
    ImportOptions wrong;
    wrong.directory = m_world->env.path(QStringLiteral("work"));
    wrong.alias = kLocal;
    const ImportReport none = importStation(wrong);
    QVERIFY(!none.ok());
    QVERIFY(none.text().contains(QStringLiteral("ninguna de las tablas de la estación")));
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
                                   << "truncada o dañada";
    QTest::newRow("truncated .DBF") << "personal.DBF"
                                    << "truncado o dañado";
    QTest::newRow("empty file") << "log.DB"
                                << "vacío";
    QTest::newRow("unreadable file")
        << "lectura.DB"
        << "no se puede leer el archivo: Too many levels of symbolic links";
    QTest::newRow("foreign file") << "confRegIP.db"
                                  << "no es una tabla Paradox";
    QTest::newRow("text outside the code page") << "confRegIP.db"
                                                << "registro 1, campo Desc";
    QTest::newRow("unknown code page") << "personal.DBF"
                                       << "controlador de idioma";
    QTest::newRow("date that does not exist") << "lectura.DB"
                                              << "registro 1, campo Fecha";
    QTest::newRow("time past midnight") << "log.DB"
                                        << "registro 1, campo Hora";
    QTest::newRow("number overflows") << "personal.DBF"
                                      << "registro 1, campo TARJETA";
    QTest::newRow("group not a number") << "personal.DBF"
                                        << "registro 1, campo GRUPO";
    QTest::newRow("fraction in a code") << "personal.DBF"
                                        << "registro 1, campo CODIGO";
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
    } else if (tag == "unreadable file") {
        QVERIFY(QFile::link(file, file)); // a link to itself: no one can open it, not even root
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
    QVERIFY(report.text().contains(QStringLiteral("no se escribió nada")));
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
    QVERIFY2(report.text().contains(QStringLiteral("no se escribió nada")),
             qPrintable(report.text()));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
}

void TestImport::commandLineExitStatus() {
    const QString tool = toolPath();
    if (!QFile::exists(tool))
        QSKIP("kivo-import is not built");
    m_old->writeCeco();
    QProcess run;
    run.start(tool, {m_old->directory()});
    QVERIFY(run.waitForFinished(60000));
    const QString output = QString::fromUtf8(run.readAllStandardOutput());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY2(
        output.contains(QStringLiteral("ceco.DBF: 2 registros leídos, 2 importados, 0 omitidos")),
        qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("lectura.DB: 0 registros leídos")));
    // What it is doing goes to standard error, apart from the report.
    QVERIFY(QString::fromUtf8(run.readAllStandardError())
                .contains(QStringLiteral("kivo-import: ceco.DBF: leyendo")));
    run.start(tool, {m_old->directory()});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 1);
    QVERIFY(QString::fromUtf8(run.readAllStandardOutput())
                .contains(QStringLiteral("ya tiene 2 registros")));
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

    // --replace on a server keeps the rows it deletes as SQL that puts them back.
    writeParadoxFile(m_old->path(QStringLiteral("lectura.DB")), lecturaColumns(),
                     {{5, QTime(1, 0), QDate(2027, 1, 1), 1, 1, 1, "NUEVO"}});
    const ImportReport replaced = importInto(*m_old, true);
    QVERIFY2(replaced.ok(), qPrintable(replaced.text()));
    QVERIFY2(replaced.backup.endsWith(QLatin1String(".sql")), qPrintable(replaced.text()));
    QCOMPARE(QFileInfo(replaced.backup).absolutePath(), QDir::currentPath());
    QCOMPARE(lecturaCodes(kLocal), QStringList{"5"});
    {
        QFile dump(replaced.backup);
        QVERIFY(dump.open(QIODevice::ReadOnly));
        QSqlDatabase db = m_world->session.connectionFor(kLocal);
        QVERIFY(db.transaction());
        for (const QString& line : QString::fromUtf8(dump.readAll()).split(QLatin1Char('\n'))) {
            if (line.isEmpty() || line.startsWith(QLatin1String("--")))
                continue;
            QSqlQuery statement(db);
            QVERIFY2(statement.exec(line), qPrintable(line + statement.lastError().text()));
        }
        QVERIFY(db.commit());
    }
    QStringList restored = lecturaCodes(kLocal);
    restored.sort(); // NULL sorts last on PostgreSQL
    QCOMPARE(restored, (QStringList{"-", "1001", "2147483647"}));
    QCOMPARE(entitledPersonnel(kLocal), QStringList{"1001 JOSÉ MARÍA MUÑOZ 4242 3"});
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
// A .DB whose fields add up to more than its record (found by the fuzzer):
// refused as damaged, never read past the record.
void TestImport::fieldsLongerThanTheRecordAreRefused() {
    QFile input(
        QStringLiteral(KIVO_SOURCE_DIR) +
        QStringLiteral("/tests/fuzz/corpus/fuzz_legacy/finding-field-lengths-beyond-record"));
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QString path = m_world->env.path(QStringLiteral("damaged.DB"));
    QFile damaged(path);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(input.readAll().mid(1)); // the fuzz input's first byte chooses the reader
    damaged.close();
    const QString error = errorOf([&] { openParadoxTable(path); });
    QVERIFY2(error.contains(QStringLiteral("sus campos suman")), qPrintable(error));
}

void TestImport::readerThatHangsOrCrashesIsStopped() {
    const QString hung = errorOf([] {
        readInChildProcess(
            [](RowSink&) {
                for (;;)
                    pause();
            },
            300);
    });
    QVERIFY2(hung.contains(QStringLiteral("no terminó")), qPrintable(hung));
    const QString crashed = errorOf([] { readInChildProcess([](RowSink&) { abort(); }, 10000); });
    QVERIFY2(crashed.contains(QStringLiteral("su lector se detuvo")), qPrintable(crashed));
    const QString refused = errorOf([] {
        readInChildProcess([](RowSink&) { throw ELegacyTable(QStringLiteral("no")); }, 10000);
    });
    QCOMPARE(refused, QStringLiteral("no"));

    // Rows come back in batches as the child sends them; a failure after some
    // rows reaches the caller after those rows.
    const int rows = kRowsPerBatch + 5;
    const std::unique_ptr<LegacyReader> reader = readInChildProcess(
        [rows](RowSink& sink) {
            LegacyTable t;
            t.codec = QStringLiteral("IBM850");
            t.columns.append({QStringLiteral("Fecha"), LegacyType::Date, QStringLiteral("Date")});
            sink.head(t);
            for (int i = 1; i <= rows; ++i)
                sink.row({i, false, {{QDate(2026, 12, 8).addDays(i), QString()}}});
            sink.note(QStringLiteral("said at the end"));
            throw ELegacyTable(QStringLiteral("row %1 cannot be read").arg(rows + 1));
        },
        10000);
    QCOMPARE(reader->head().codec, QStringLiteral("IBM850"));
    std::vector<LegacyRow> batch;
    QVERIFY(reader->next(batch));
    QCOMPARE(int(batch.size()), kRowsPerBatch);
    QCOMPARE(batch.at(0).number, 1);
    QCOMPARE(batch.at(0).cells.at(0).value.toDate(), QDate(2026, 12, 9));
    QVERIFY(reader->next(batch));
    QCOMPARE(int(batch.size()), 5);
    QCOMPARE(batch.back().number, rows);
    const QString failed = errorOf([&] { reader->next(batch); });
    QCOMPARE(failed, QStringLiteral("row %1 cannot be read").arg(rows + 1));
    QCOMPARE(reader->trailingNotes(), QStringList{"said at the end"});
}

// Issue 21 item 1: rows past the header's count are read and said, never
// dropped; rows the header counts that are not there refuse the table.
void TestImport::rowsBeyondTheHeadersCount_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("headerSays");
    QTest::addColumn<int>("imported"); // -1: refused
    QTest::addColumn<QString>("expected");
    QTest::newRow(".DBF 3000 rows, header 2000")
        << "personal.DBF" << 3000 << 2000 << 3000
        << "la cabecera cuenta 2000 registros, pero el archivo tiene 3000 registros completos: se "
           "leen los 3000";
    QTest::newRow(".DB 5000 rows, header 4000")
        << "lectura.DB" << 5000 << 4000 << 5000
        << "la cabecera cuenta 4000 registros, pero los bloques de datos del archivo tienen 5000 "
           "registros completos";
    QTest::newRow(".DB 5000 rows, header 5001") << "lectura.DB" << 5000 << 5001 << -1
                                                << "la cabecera cuenta 5001 registros, pero los "
                                                   "bloques de datos del archivo tienen solo 5000";
    QTest::newRow(".DBF bytes past the count")
        << "personal.DBF" << 10 << 10 << -1 << "bytes que no son registros completos";
}

void TestImport::rowsBeyondTheHeadersCount() {
    QFETCH(QString, table);
    QFETCH(int, rows);
    QFETCH(int, headerSays);
    QFETCH(int, imported);
    QFETCH(QString, expected);
    const QString file = m_old->path(table);
    if (table == QLatin1String("personal.DBF")) {
        LegacyRows many;
        for (int i = 1; i <= rows; ++i)
            many.append({i, "A", "B", i, "1", true});
        writeDbfFile(file, personalColumns(), many);
        patchCount(file, 4, quint32(headerSays));
        if (headerSays == rows) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::Append));
            f.write("junk!");
        }
    } else {
        LegacyRows many;
        for (int i = 1; i <= rows; ++i)
            many.append({i, QTime(10, 0), QDate(2026, 1, 1), 1, 1, i, "P"});
        writeParadoxFile(file, lecturaColumns(), many);
        patchCount(file, 0x06, quint32(headerSays));
    }
    m_old->writeCeco();
    const ImportReport report = importInto(*m_old);
    const TableReport& t = tableOf(report, table);
    if (imported < 0) {
        QVERIFY(!report.ok());
        QVERIFY2(t.errors.join('\n').contains(expected), qPrintable(report.text()));
        QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
        return;
    }
    QVERIFY2(report.ok(), qPrintable(report.text()));
    QVERIFY2(t.notes.join('\n').contains(expected), qPrintable(report.text()));
    QCOMPARE(t.imported, imported);
    QCOMPARE(rowsOf(kLocal, table), imported);
}

// Issue 21 item 2: --replace says what it deletes and keeps the database as
// it was beside its file.
void TestImport::replaceSaysWhatItDeletesAndKeepsACopy() {
    m_old->writeAll();
    const ImportReport first = importInto(*m_old);
    QVERIFY2(first.ok(), qPrintable(first.text()));
    QVERIFY(first.backup.isEmpty()); // nothing deleted, nothing to keep
    writeParadoxFile(m_old->path(QStringLiteral("lectura.DB")), lecturaColumns(),
                     {{5, QTime(1, 0), QDate(2027, 1, 1), 1, 1, 1, "NUEVO"}});
    const ImportReport replaced = importInto(*m_old, true);
    QVERIFY2(replaced.ok(), qPrintable(replaced.text()));
    QCOMPARE(tableOf(replaced, QStringLiteral("lectura.DB")).deleting, 3);
    QCOMPARE(tableOf(replaced, QStringLiteral("personal.DBF")).deleting, 3);
    QVERIFY2(replaced.text().contains(QStringLiteral(
                 "--replace borra los 3 registros que esta tabla tiene ahora en la base de datos")),
             qPrintable(replaced.text()));
    QVERIFY(!replaced.backup.isEmpty());
    QVERIFY(replaced.text().contains(replaced.backup));
    QCOMPARE(QFileInfo(replaced.backup).absolutePath(),
             QFileInfo(AliasConfig::embeddedPath(kLocal)).absolutePath());
    QCOMPARE(lecturaCodes(kLocal), QStringList{"5"});
    {
        QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "backup");
        copy.setDatabaseName(replaced.backup);
        QVERIFY(copy.open());
        QSqlQuery count(copy);
        QVERIFY(count.exec(QStringLiteral("SELECT COUNT(*) FROM lectura")) && count.next());
        QCOMPARE(count.value(0).toInt(), 3);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("backup"));
}

void TestImport::keepCollectedAddsTheOldStationsRows() {
    m_old->writeAll();
    QVERIFY(importInto(*m_old).ok());
    ImportOptions keep = optionsFor(*m_old);
    keep.keepCollected = true;
    const ImportReport refused = importStation(keep);
    QVERIFY(!refused.ok());
    QVERIFY(tableOf(refused, QStringLiteral("lectura.DB")).errors.isEmpty());
    QVERIFY(tableOf(refused, QStringLiteral("personal.DBF"))
                .errors.join('\n')
                .contains(QStringLiteral("ya tiene 3 registros")));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 3);

    keep.replace = true;
    const ImportReport added = importStation(keep);
    QVERIFY2(added.ok(), qPrintable(added.text()));
    QVERIFY(added.text().contains(
        QStringLiteral("se conservan los 3 registros que esta tabla tiene en la base de datos; se "
                       "añaden los de la estación anterior (--keep-collected)")));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 6);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lecturaBAK.db")), 6);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("log.DB")), 4);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("personal.DBF")), 3);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("confRegIP.db")), 3);
    QCOMPARE(tableOf(added, QStringLiteral("lectura.DB")).deleting, 0);
    QVERIFY(!added.backup.isEmpty()); // personal, confRegIP and ceco were replaced

    // Without either option the refusal names both ways out.
    const ImportReport plain = importInto(*m_old);
    QVERIFY(tableOf(plain, QStringLiteral("lectura.DB"))
                .errors.join('\n')
                .contains(QStringLiteral("--keep-collected los conserva")));
}

// Issue 21 item 3: a column the station reads is never silently empty.
void TestImport::missingStationColumnRefusesTheTable() {
    QList<DbfColumn> columns = personalColumns();
    columns.last().name = QStringLiteral("SERVTAXI");
    writeDbfFile(m_old->path(QStringLiteral("personal.DBF")), columns,
                 {{1, "ANA", "SOL", 11, "2", true}, {2, "LUIS", "MAR", 12, "2", false}});
    m_old->writeCeco();
    const ImportReport refused = importInto(*m_old);
    QVERIFY(!refused.ok());
    const QString errors = tableOf(refused, QStringLiteral("personal.DBF")).errors.join('\n');
    QVERIFY2(errors.contains(
                 QStringLiteral("el archivo no tiene la columna SERV_TAXI, que la estación lee")),
             qPrintable(refused.text()));
    QVERIFY(errors.contains(QStringLiteral("--map personal.SERV_TAXI=")));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);

    ImportOptions mapped = optionsFor(*m_old);
    mapped.columns[QStringLiteral("personal")].map.insert(QStringLiteral("serv_taxi"),
                                                          QStringLiteral("SERVTAXI"));
    const ImportReport viaMap = importStation(mapped);
    QVERIFY2(viaMap.ok(), qPrintable(viaMap.text()));
    QCOMPARE(entitledPersonnel(kLocal), QStringList{"1 ANA SOL 11 2"});

    columns.removeLast();
    writeDbfFile(m_old->path(QStringLiteral("personal.DBF")), columns,
                 {{1, "ANA", "SOL", 11, "2"}, {2, "LUIS", "MAR", 12, "2"}});
    ImportOptions defaulted = optionsFor(*m_old);
    defaulted.replace = true;
    defaulted.columns[QStringLiteral("personal.DBF")].defaults.insert(QStringLiteral("SERV_TAXI"),
                                                                      QStringLiteral("T"));
    const ImportReport viaDefault = importStation(defaulted);
    QVERIFY2(viaDefault.ok(), qPrintable(viaDefault.text()));
    QVERIFY(viaDefault.text().contains(QStringLiteral(
        "el archivo no tiene la columna SERV_TAXI: todos los registros toman 'T' (--default)")));
    QCOMPARE(entitledPersonnel(kLocal), (QStringList{"1 ANA SOL 11 2", "2 LUIS MAR 12 2"}));
}

// Issue 21 item 6.
void TestImport::twoFilesForOneTableAreRefused() {
    m_old->writeLectura(QStringLiteral("LECTURA.DB"));
    m_old->writeLectura(QStringLiteral("lectura.db"));
    m_old->writeCeco();
    const ImportReport report = importInto(*m_old);
    QVERIFY(!report.ok());
    const QString errors = tableOf(report, QStringLiteral("lectura.DB")).errors.join('\n');
    QVERIFY2(errors.contains(QStringLiteral("2 archivos para esta misma tabla")),
             qPrintable(report.text()));
    QVERIFY(errors.contains(m_old->path(QStringLiteral("LECTURA.DB"))));
    QVERIFY(errors.contains(m_old->path(QStringLiteral("lectura.db"))));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
}

void TestImport::dryRunWritesNothing() {
    m_old->writeAll();
    ImportOptions dry = optionsFor(*m_old);
    dry.dryRun = true;
    const ImportReport checked = importStation(dry);
    QVERIFY2(checked.ok(), qPrintable(checked.text()));
    QVERIFY(!checked.written);
    QVERIFY(checked.text().contains(
        QStringLiteral("lectura.DB: 3 registros leídos, 3 por importar, 0 omitidos")));
    QVERIFY(checked.text().contains(
        QStringLiteral("Prueba: todas las tablas revisadas; no se escribió nada")));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 0);

    QVERIFY(importInto(*m_old).ok());
    const QDir data(QFileInfo(AliasConfig::embeddedPath(kLocal)).absolutePath());
    const QStringList before = data.entryList(QDir::Files);
    const ImportReport refused = importStation(dry);
    QVERIFY(!refused.ok());
    QVERIFY(refused.text().contains(QStringLiteral("ya tiene 3 registros")));
    QVERIFY(refused.text().contains(QStringLiteral("Prueba: la importación fallaría")));
    dry.replace = true;
    writeParadoxFile(m_old->path(QStringLiteral("lectura.DB")), lecturaColumns(),
                     {{5, QTime(1, 0), QDate(2027, 1, 1), 1, 1, 1, "NUEVO"}});
    const ImportReport wouldReplace = importStation(dry);
    QVERIFY2(wouldReplace.ok(), qPrintable(wouldReplace.text()));
    QVERIFY(wouldReplace.text().contains(QStringLiteral("--replace borra los 3 registros")));
    QVERIFY(wouldReplace.backup.isEmpty());
    QCOMPARE(data.entryList(QDir::Files), before); // no copy taken
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 3);
    QCOMPARE(lecturaCodes(kLocal).size(), 3);
}

// Issue 21 item 7.
void TestImport::codePageChosenPerTable() {
    QStringEncoder dos("IBM850");
    const QByteArray name = dos.encode(QStringLiteral("ÑANDÚ"));
    // The header names Windows ANSI, the text is DOS: a wrong language byte.
    writeDbfFile(m_old->path(QStringLiteral("personal.DBF")), personalColumns(),
                 {{5, QVariant(name), "X", 1, "2", true}}, QStringLiteral("LDID/87"));
    // The same in a Paradox table that names Windows-1252.
    writeParadoxFile(m_old->path(QStringLiteral("confRegIP.db")), confRegIPColumns(),
                     {{"10.0.0.9", QVariant(dos.encode(QStringLiteral("Almacén"))), "ALM", true}},
                     1252);
    ImportOptions options = optionsFor(*m_old);
    options.codepages.insert(QStringLiteral("personal"), QStringLiteral("850"));
    options.codepages.insert(QStringLiteral("CONFREGIP.DB"), QStringLiteral("CP850"));
    const ImportReport report = importStation(options);
    QVERIFY2(report.ok(), qPrintable(report.text()));
    QCOMPARE(tableOf(report, QStringLiteral("personal.DBF")).codec,
             QStringLiteral("IBM850 (elegida con --codepage)"));
    QVERIFY(report.text().contains(
        QStringLiteral("página de códigos: IBM850 (elegida con --codepage)")));
    QCOMPARE(entitledPersonnel(kLocal), QStringList{"5 ÑANDÚ X 1 2"});
    QCOMPARE(activePoints(kLocal), QStringList{"10.0.0.9 Almacén ALM"});
}

// Issue 21 items 7 and 8: a TAB does not refuse the import, a number written
// as asterisks is said, many deleted rows are one line.
void TestImport::controlCharactersAndAsterisksAreSaid() {
    LegacyRows rows = {{1, "ANA\tMARÍA", "SOL", QByteArray("***********"), "1", true}};
    QList<int> deleted;
    for (int i = 2; i <= 41; ++i) {
        rows.append({i, "BORRADO", "X", i, "1", true});
        deleted << i;
    }
    writeDbfFile(m_old->path(QStringLiteral("personal.DBF")), personalColumns(), rows,
                 QStringLiteral("LDID/87"), deleted);
    const ImportReport report = importInto(*m_old);
    QVERIFY2(report.ok(), qPrintable(report.text()));
    QCOMPARE(entitledPersonnel(kLocal), QStringList{"1 ANA MARÍA SOL 0 1"});
    const TableReport& personal = tableOf(report, QStringLiteral("personal.DBF"));
    const QString notes = personal.notes.join('\n');
    QVERIFY2(notes.contains(QStringLiteral("registro 1, campo NOMBRES: 1 carácter(es) de control")),
             qPrintable(report.text()));
    QVERIFY(notes.contains(
        QStringLiteral("registro 1, campo TARJETA: un número escrito como asteriscos")));
    QVERIFY(notes.contains(QStringLiteral(
        "40 registro(s) marcado(s) como borrado(s) en el archivo: omitido(s) (registro 2, 3, 4")));
    QCOMPARE(personal.notes.filter(QStringLiteral("marcado(s) como borrado(s)")).size(), 1);
    QCOMPARE(personal.skipped, 40);
    TQuery q;
    q.DatabaseName = kLocal;
    q.SQL << QStringLiteral("select * from personal.dbf;");
    q.Open();
    QVERIFY(q.FieldByName(QStringLiteral("TARJETA")).IsNull());
}

void TestImport::commandLineMistakesExitTwo() {
    if (!QFile::exists(toolPath()))
        QSKIP("kivo-import is not built");
    m_old->writeCeco();
    const QList<QStringList> mistakes = {
        {},
        {QStringLiteral("--bogus"), m_old->directory()},
        {QStringLiteral("--codepage"), QStringLiteral("lectura"), m_old->directory()},
        {QStringLiteral("--codepage"), QStringLiteral("lectura=99999"), m_old->directory()},
        {QStringLiteral("--codepage"), QStringLiteral("tickets=850"), m_old->directory()},
        {QStringLiteral("--map"), QStringLiteral("personal=SERVTAXI"), m_old->directory()},
        {QStringLiteral("--default"), QStringLiteral("nada.X=1"), m_old->directory()},
        {m_old->directory(), m_old->directory()},
    };
    for (const QStringList& arguments : mistakes) {
        QProcess run;
        run.start(toolPath(), arguments);
        QVERIFY(run.waitForFinished(60000));
        QVERIFY2(run.exitCode() == 2, qPrintable(arguments.join(' ')));
    }
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
}

// Issue 21 item 5: given both, the tool imports and merges both or neither.
void TestImport::tablesAndSettingsGoOverTogether() {
    if (!QFile::exists(toolPath()))
        QSKIP("kivo-import is not built");
    const QString registry = m_world->env.path(QStringLiteral("registry.reg"));
    const QString exportFile = m_world->env.path(QStringLiteral("old.reg"));
    auto writeExport = [&](const QByteArray& auto_) {
        QFile f(exportFile);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs]\r\n"
                "\"Auto\"=" +
                auto_ + "\r\n");
    };
    auto run = [&](const QStringList& arguments, QString& output) {
        QProcess tool;
        tool.start(toolPath(), arguments);
        tool.waitForFinished(60000);
        output = QString::fromUtf8(tool.readAllStandardOutput());
        return tool.exitCode();
    };
    QString output;
    // Settings the station cannot read: no table is imported.
    m_old->writeCeco();
    writeExport("\"1\"");
    QCOMPARE(run({m_old->directory(), QStringLiteral("--registry"), exportFile}, output), 1);
    QVERIFY2(output.contains(QStringLiteral("No se importó nada")), qPrintable(output));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);
    QVERIFY(!QFile::exists(registry));

    // A refused import: the settings are not merged.
    writeExport("dword:00000001");
    m_old->writeLectura();
    {
        QFile f(m_old->path(QStringLiteral("lectura.DB")));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() - 100));
    }
    QCOMPARE(run({m_old->directory(), QStringLiteral("--registry"), exportFile}, output), 1);
    QVERIFY2(output.contains(QStringLiteral("configuración: tampoco se combinó")),
             qPrintable(output));
    QVERIFY(!QFile::exists(registry));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);

    // A dry run of both writes neither.
    m_old->writeLectura();
    QCOMPARE(run({QStringLiteral("--dry-run"), m_old->directory(), QStringLiteral("--registry"),
                  exportFile},
                 output),
             0);
    QVERIFY2(output.contains(QStringLiteral("Prueba: todas las tablas revisadas")),
             qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("Auto: (ninguno) -> 1")));
    QVERIFY(!QFile::exists(registry));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 0);

    // Both good: both done.
    QCOMPARE(run({m_old->directory(), QStringLiteral("--registry"), exportFile}, output), 0);
    QVERIFY2(output.contains(QStringLiteral("Importación completa")), qPrintable(output));
    QVERIFY(output.contains(QStringLiteral("configuración: combinada.")));
    QCOMPARE(rowsOf(kLocal, QStringLiteral("ceco.DBF")), 2);
    TRegistry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("\\Software\\Tolv\\KIVO\\IP\\1.0\\JUXRegs"), false));
    QCOMPARE(reg.ReadBool(QStringLiteral("Auto")), true);
}

// Rows are written a batch at a time: a problem in a late row of a later table
// takes back every batch written before it, and the reading goes on, so that
// one run reports the problems of every table.
void TestImport::lateProblemUndoesTheBatchesWritten() {
    LegacyRows lectura;
    for (int i = 1; i <= 3 * kRowsPerBatch; ++i)
        lectura.append({i, QTime(10, 0), QDate(2026, 1, 1), 1, 1, i, "P"});
    writeParadoxFile(m_old->path(QStringLiteral("lectura.DB")), lecturaColumns(), lectura);
    LegacyRows personal;
    const int late = 2 * kRowsPerBatch + 7;
    for (int i = 1; i <= late; ++i)
        personal.append({i, "A", "B", i, i == late ? "12x" : "1", true});
    writeDbfFile(m_old->path(QStringLiteral("personal.DBF")), personalColumns(), personal);
    writeDbfFile(m_old->path(QStringLiteral("ceco.DBF")), cecoColumns(), {{1, 2, 3.5}});
    const ImportReport report = importInto(*m_old);
    QVERIFY(!report.ok());
    QVERIFY2(tableOf(report, QStringLiteral("personal.DBF"))
                 .errors.join('\n')
                 .contains(QStringLiteral("registro %1, campo GRUPO").arg(late)),
             qPrintable(report.text()));
    QVERIFY2(tableOf(report, QStringLiteral("ceco.DBF"))
                 .errors.join('\n')
                 .contains(QStringLiteral("registro 1, campo VIAJES")),
             qPrintable(report.text()));
    QCOMPARE(tableOf(report, QStringLiteral("lectura.DB")).imported, 0);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("lectura.DB")), 0);
    QCOMPARE(rowsOf(kLocal, QStringLiteral("personal.DBF")), 0);
    QVERIFY(report.text().contains(QStringLiteral("no se escribió nada")));
}

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
