// The alias file, the alias configuration and the login parameter lines.
#include "StoreFixture.h"
#include "store/Aliases.h"
#include "store/Session.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>
#include <sys/stat.h>

class TestAliases : public QObject {
    Q_OBJECT

private slots:
    void init() { m_env = std::make_unique<StoreEnvironment>(); }
    void cleanup() { m_env.reset(); }

    void aliasFile_data() {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("server");
        QTest::newRow("absent") << QByteArray() << false << "KIVO_1"
                                << "JUXRegs";
        QTest::newRow("one line: empty server alias") << QByteArray("LOC\r\n") << false << "LOC"
                                                      << "";
        QTest::newRow("one line without line end") << QByteArray("LOC") << false << "LOC"
                                                   << "";
        QTest::newRow("LOC and NONE") << QByteArray("LOC\r\nNONE\r\n") << false << "LOC"
                                      << "NONE";
        QTest::newRow("third line ignored") << QByteArray("A\r\nB\r\nC\r\n") << false << "A"
                                            << "B";
        QTest::newRow("LF line ends") << QByteArray("A\nB\n") << false << "A"
                                      << "B";
        QTest::newRow("kept whole, not trimmed")
            << QByteArray(" LOC \r\n\tSRV \r\n") << false << " LOC "
            << "\tSRV ";
        QTest::newRow("Windows-1252 bytes")
            << QByteArray("Loc\xf1\r\nSrv\xe9\r\n") << false << "Locñ"
            << "Srvé";
        QTest::newRow("empty file: both empty") << QByteArray("") << false << ""
                                                << "";
        QTest::newRow("unreadable: a directory") << QByteArray() << true << "KIVO_1"
                                                 << "JUXRegs";
    }
    void aliasFile() {
        QFETCH(QByteArray, content);
        QFETCH(bool, directory);
        QFETCH(QString, local);
        QFETCH(QString, server);
        if (directory)
            QVERIFY(QDir().mkdir(QStringLiteral("dbAlias.txt")));
        else if (!content.isNull())
            m_env->writeFile(QStringLiteral("work/dbAlias.txt"), content);
        const AliasNames names = readAliasFile();
        QCOMPARE(names.local, local);
        QCOMPARE(names.server, server);
    }

    void configPath_data() {
        QTest::addColumn<bool>("explicitFile");
        QTest::addColumn<bool>("workingFile");
        QTest::addColumn<QString>("expected"); // relative to the temporary directory
        QTest::newRow("KIVO_ALIASES wins") << true << true << "aliases.ini";
        QTest::newRow("working directory next") << false << true << "work/aliases.ini";
        QTest::newRow("XDG_CONFIG_HOME last") << false << false << "config/kivo-ip/aliases.ini";
    }
    void configPath() {
        QFETCH(bool, explicitFile);
        QFETCH(bool, workingFile);
        QFETCH(QString, expected);
        if (!explicitFile)
            qunsetenv("KIVO_ALIASES");
        if (workingFile)
            m_env->writeFile(QStringLiteral("work/aliases.ini"), "[X]\n");
        QCOMPARE(QFileInfo(AliasConfig::configPath()).absoluteFilePath(),
                 QFileInfo(m_env->path(expected)).absoluteFilePath());
    }

    void definition_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("expected"); // summary, or "error"
        QTest::newRow("no file: embedded") << QByteArray() << "KIVO_1"
                                           << "embedded";
        QTest::newRow("no section: embedded")
            << QByteArray("[OTHER]\nDriver=sqlite\nPath=x.db\n") << "KIVO_1"
            << "embedded";
        QTest::newRow("sqlite, path relative to the file")
            << QByteArray("; comment\n[KIVO_1]\nDriver=sqlite\nPath=db/local.sqlite\n") << "KIVO_1"
            << "sqlite db/local.sqlite";
        QTest::newRow("section and keys without regard to case")
            << QByteArray("[kivo_1]\nDRIVER = SQLite\npath = a.sqlite\n") << "KIVO_1"
            << "sqlite a.sqlite";
        QTest::newRow("postgres")
            << QByteArray("[JUXRegs]\nDriver=postgres\nHost=db.local\nPort=6543\nDatabase=juxdb\n")
            << "JUXRegs"
            << "postgres db.local 6543 juxdb 5";
        QTest::newRow("protected")
            << QByteArray("[L]\nDriver=sqlite\nPath=a\nPassword=secret\n") << "L"
            << "sqlite a secret";
        QTest::newRow("unknown driver") << QByteArray("[L]\nDriver=quillbarrow\n") << "L"
                                        << "error";
        QTest::newRow("sqlite without path") << QByteArray("[L]\nDriver=sqlite\n") << "L"
                                             << "error";
        QTest::newRow("postgres without database")
            << QByteArray("[S]\nDriver=postgres\nHost=h\n") << "S"
            << "error";
        QTest::newRow("bad port") << QByteArray("[S]\nDriver=postgres\nDatabase=d\nPort=99999\n")
                                  << "S"
                                  << "error";
    }
    void definition() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, alias);
        QFETCH(QString, expected);
        if (!ini.isNull())
            m_env->writeFile(QStringLiteral("aliases.ini"), ini);
        if (expected == QLatin1String("error")) {
            QVERIFY_THROWS_EXCEPTION(EDatabaseError, AliasConfig::definitionFor(alias));
            return;
        }
        const AliasDefinition def = AliasConfig::definitionFor(alias);
        QCOMPARE(summary(def), expected);
        if (def.embedded)
            QCOMPARE(def.path, m_env->dataDir() + QStringLiteral("/KIVO_1.sqlite"));
    }

    void unreadableConfigurationRaises() {
        QVERIFY(QDir().mkpath(m_env->aliasesPath()));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, AliasConfig::definitionFor(QStringLiteral("A")));
    }

    void loginFileAbsentRaisesAndKeepsBuiltIns() {
        TSession session;
        TDatabase database(session);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                 database.LoadParamsFromFile(QStringLiteral("dbLogin.txt")));
        QCOMPARE(database.Params, QStringList({"USER NAME=JUX", "password=60728"}));
    }

    // It holds the server's password: its owner's alone, whatever the umask.
    void loginFileSavedExactlyForItsOwnerOnly() {
        TSession session;
        TDatabase database(session);
        const mode_t umaskBefore = ::umask(0);
        database.SaveParamsToFile(QStringLiteral("dbLogin.txt"));
        ::umask(umaskBefore);
        QFile file(QStringLiteral("dbLogin.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("USER NAME=JUX\r\npassword=60728\r\n"));
        QCOMPARE(file.permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    void loginFileSaveFailureRaises() {
        TSession session;
        TDatabase database(session);
        QVERIFY_THROWS_EXCEPTION(
            EDatabaseError, database.SaveParamsToFile(QStringLiteral("no/such/dir/dbLogin.txt")));
    }

    void loginFileLoadedAsWritten() {
        m_env->writeFile(QStringLiteral("work/dbLogin.txt"),
                         "user name=Jos\xe9\r\nPASSWORD=a=b \r\nSERVER NAME=x\r\n");
        TSession session;
        TDatabase database(session);
        database.LoadParamsFromFile(QStringLiteral("dbLogin.txt"));
        QCOMPARE(database.Params.size(), 3);
        QCOMPARE(database.param(QStringLiteral("USER NAME")), QStringLiteral("José"));
        // Everything after the first "=" is the value, blanks included.
        QCOMPARE(database.param(QStringLiteral("password")), QStringLiteral("a=b "));
        QCOMPARE(database.param(QStringLiteral("missing")), QString());
    }

private:
    QString summary(const AliasDefinition& def) const {
        if (def.embedded)
            return QStringLiteral("embedded");
        if (def.driver == AliasDefinition::Driver::Postgres)
            return QStringLiteral("postgres %1 %2 %3 %4")
                .arg(def.host)
                .arg(def.port)
                .arg(def.database)
                .arg(def.connectTimeout);
        const QString relative = QDir(m_env->path(QString())).relativeFilePath(def.path);
        return (QStringLiteral("sqlite ") + relative + QLatin1Char(' ') + def.password).trimmed();
    }

    std::unique_ptr<StoreEnvironment> m_env;
};

QObject* newAliasTests() {
    return new TestAliases;
}

#include "tst_aliases.moc"
