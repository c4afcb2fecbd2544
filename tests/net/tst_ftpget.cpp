// The ftpget probe against the scripted server: it ends on its own and says
// what ended the download.
#include "ScriptedFtpServer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class FtpGetTest : public QObject {
    Q_OBJECT

private slots:
    void probeEndsAndNamesTheError_data() {
        QTest::addColumn<bool>("silentAfterUser"); // PASS is never answered
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("lastLine");
        using Mode = ScriptedFtpServer::DataMode;
        QTest::newRow("file received")
            << false << int(Mode::Normal) << 0 << "ftpget: received 200 bytes";
        QTest::newRow("server stops answering")
            << true << int(Mode::Normal) << 1 << "ftpget: Socket readln aborted";
        QTest::newRow("data stall")
            << false << int(Mode::Stall) << 1 << "ftpget: download failed: Socket send aborted";
    }
    void probeEndsAndNamesTheError() {
        QFETCH(bool, silentAfterUser);
        QFETCH(int, mode);
        QFETCH(int, exitCode);
        QFETCH(QString, lastLine);
        ScriptedFtpServer srv;
        if (silentAfterUser)
            srv.replies.insert(QStringLiteral("PASS"), QByteArray(""));
        srv.files.insert(QStringLiteral("f.ras"), QByteArray(200, 'r'));
        srv.dataMode = ScriptedFtpServer::DataMode(mode);
        QTemporaryDir dir;
        QProcess probe;
        probe.setWorkingDirectory(dir.path());
        probe.start(QStringLiteral(KIVO_FTPGET_BINARY),
                    {"--host", "127.0.0.1", "--port", QString::number(srv.port()), "--password",
                     "x", "--timeout", "500", "--level", "1", "f.ras"});
        QVERIFY(probe.waitForStarted());
        // The server answers on this thread: wait in the event loop. The bound
        // only keeps a hanging probe from hanging the test.
        const bool ended =
            QTest::qWaitFor([&] { return probe.state() == QProcess::NotRunning; }, 30000);
        if (!ended) {
            probe.kill();
            probe.waitForFinished();
        }
        QVERIFY2(ended, "the probe did not end by itself");
        const QStringList lines =
            QString::fromUtf8(probe.readAllStandardOutput() + probe.readAllStandardError())
                .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(probe.exitCode(), exitCode);
        QCOMPARE(lines.value(lines.size() - 1), lastLine);
        if (exitCode == 0) {
            QFile file(dir.filePath("f.ras"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray(200, 'r'));
        }
    }
};

QTEST_GUILESS_MAIN(FtpGetTest)
#include "tst_ftpget.moc"
