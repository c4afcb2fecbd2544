#include "PeerProcess.h"

#include "net/FtpClient.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// The client against a real FTP server (pyftpdlib) on loopback.
class FtpRealTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir served;
    QTemporaryDir work;
    std::unique_ptr<PeerProcess> peer;
    QByteArray content;

    void configure(TFtpClient& ftp) {
        ftp.Host = QStringLiteral("127.0.0.1");
        ftp.Port = peer->port();
        ftp.UserID = QStringLiteral("tolv");
        ftp.Password = QStringLiteral("kqnwdrb");
        ftp.TimeOut = 10000;
        ftp.ReportLevel = 16;
    }

private slots:
    void initTestCase() {
        content.resize(1300 * 1024 + 17);
        QRandomGenerator gen(4711);
        for (char& c : content)
            c = char(gen.generate());
        QFile f(served.filePath(QStringLiteral("regAsist.ras")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        QFile x(served.filePath(QStringLiteral("x")));
        QVERIFY(x.open(QIODevice::WriteOnly));
        x.close();
        peer = std::make_unique<PeerProcess>(served.path(), QStringLiteral("tolv"),
                                             QStringLiteral("kqnwdrb"));
        if (peer->port() == 0)
            QSKIP("pyftpdlib peer did not start (python3-pyftpdlib missing?)");
    }
    void cleanupTestCase() { peer.reset(); }

    void downloadByteForByte_data() {
        QTest::addColumn<bool>("passive");
        QTest::newRow("active (PORT)") << false;
        QTest::newRow("passive (PASV)") << true;
    }
    void downloadByteForByte() {
        QFETCH(bool, passive);
        TFtpClient ftp;
        configure(ftp);
        ftp.Passive = passive;
        qint64 last = 0;
        int packets = 0;
        bool ordered = true;
        ftp.OnPacketRecvd = [&](TTcpSock*) {
            ++packets;
            ordered = ordered && ftp.BytesReceived() > last;
            last = ftp.BytesReceived();
        };
        bool failed = false;
        ftp.OnFailure = [&](bool& handled, TCmdType) { failed = handled = true; };
        ftp.Connect();
        const QString target = work.filePath(passive ? QStringLiteral("p") : QStringLiteral("a"));
        ftp.Download(QStringLiteral("regAsist.ras"), target);
        QVERIFY(!failed);
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll() == content);
        QVERIFY(packets > 1);
        QVERIFY(ordered);
        QCOMPARE(last, qint64(content.size()));
        QCOMPARE(ftp.TransferSize(), qint64(content.size()));
        QCOMPARE(ftp.LastStatus().left(3), QStringLiteral("226"));
        ftp.Disconnect();
        QVERIFY(!ftp.Connected());
    }

    void deleteExistingAndMissing() {
        TFtpClient ftp;
        configure(ftp);
        QList<int> failures;
        ftp.OnFailure = [&](bool& handled, TCmdType kind) {
            failures << int(kind);
            handled = true;
        };
        ftp.Connect();
        ftp.Delete(QStringLiteral("x"));
        QVERIFY(failures.isEmpty());
        QVERIFY(!QFile::exists(served.filePath(QStringLiteral("x"))));
        ftp.Delete(QStringLiteral("x"));
        QCOMPARE(failures, QList<int>{ctDelete});
        QCOMPARE(int(ftp.ReplyNumber()), 550);
        ftp.Disconnect();
    }

    void wrongPasswordRefused() {
        TFtpClient ftp;
        configure(ftp);
        ftp.Password = QStringLiteral("wrong");
        try {
            ftp.Connect();
            QFAIL("login with a wrong password succeeded");
        } catch (const FTPException& e) {
            QVERIFY(e.message().startsWith(QStringLiteral("530")));
        }
        QVERIFY(!ftp.Connected());
    }
};

QTEST_GUILESS_MAIN(FtpRealTest)
#include "tst_ftpreal.moc"
