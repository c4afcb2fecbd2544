// The station's start-up with its server alias on ODBC.
#include "station/StationFixture.h"
#include "station/uPrincipal.h"
#include "ui/StatusBar.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {
void writeAliases(const StationFixture& world, const QString& connection) {
    QFile file(world.path("aliases.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("[JUXRegs]\nDriver=odbc\nConnection=%1\n").arg(connection).toUtf8());
}
} // namespace

class TestOdbcStartup : public QObject {
    Q_OBJECT
private slots:
    // The box keeps its fixed text; the missing driver is named on the
    // error output, and the program ends.
    void missingDriverEndsTheStartWithItsName() {
        StationFixture world;
        writeAliases(world, QStringLiteral("DRIVER={ODBC Driver 17 for SQL Server};SERVER=db.lan"));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("ODBC driver 'ODBC Driver 17 for SQL Server' is not "
                                             "installed"));
        TfPrincipal f;
        QCOMPARE(world.boxes.size(), 1);
        QCOMPARE(world.boxes[0].text, QString("(i)ERROR: no se puede tener acceso a la base de "
                                              "datos.\r\rEl programa se cerrará."));
        QVERIFY(f.Terminated());
    }

    void reachableServerStarts() {
        const QString server = qEnvironmentVariable("KIVO_TEST_PG");
        if (server.isEmpty())
            QSKIP("KIVO_TEST_PG is not set");
        StationFixture world;
        writeAliases(world, QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=%1;PORT=%2;"
                                           "DATABASE=kivo_test;ConnSettings=SET search_path TO dbo")
                                .arg(server.section(':', 0, 0), server.section(':', 1)));
        TfPrincipal f; // the login comes from the built-in lines of dbLogin.txt
        QCOMPARE(world.boxes.size(), 0);
        QVERIFY(!f.Terminated());
    }
};

QTEST_MAIN(TestOdbcStartup)
#include "tst_odbcstartup.moc"
