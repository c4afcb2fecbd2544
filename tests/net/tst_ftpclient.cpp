#include "ErrorOf.h"
#include "ScriptedFtpServer.h"

#include "net/FtpClient.h"
#include "net/FtpConst.h"
#include "net/SockConst.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class FtpClientTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScriptedFtpServer> srv;
    std::unique_ptr<TFtpClient> ftp;
    std::unique_ptr<QTemporaryDir> dir;
    QStringList statuses;
    QStringList events; // "failure 2", "success 9", "unsupported 14", "connect", "connfailed"
    bool handleFailures = true;

    QString local(const QString& name) const { return dir->filePath(name); }
    bool sawStatus(const QString& text) const { return statuses.contains(text); }

private slots:
    void init() {
        srv = std::make_unique<ScriptedFtpServer>();
        dir = std::make_unique<QTemporaryDir>();
        ftp = std::make_unique<TFtpClient>();
        statuses.clear();
        events.clear();
        handleFailures = true;
        ftp->Host = QStringLiteral("127.0.0.1");
        ftp->Port = srv->port();
        ftp->UserID = QStringLiteral("tolv");
        ftp->Password = QStringLiteral("kqnwdrb");
        ftp->TimeOut = 5000;
        ftp->ReportLevel = 16;
        ftp->OnStatus = [this](TTcpSock*, const QString& t) { statuses << t; };
        ftp->OnConnect = [this](TTcpSock*) { events << QStringLiteral("connect"); };
        ftp->OnConnectionFailed = [this](TTcpSock*) { events << QStringLiteral("connfailed"); };
        ftp->OnFailure = [this](bool& handled, TCmdType kind) {
            events << QStringLiteral("failure %1").arg(int(kind));
            handled = handleFailures;
        };
        ftp->OnSuccess = [this](TCmdType k) { events << QStringLiteral("success %1").arg(int(k)); };
        ftp->OnUnSupportedFunction = [this](TCmdType k) {
            events << QStringLiteral("unsupported %1").arg(int(k));
        };
    }
    void cleanup() {
        ftp.reset();
        srv.reset();
        dir.reset();
    }

    // Found by fuzz_pasv: a comma in the text before the numbers shifted the
    // fields, and the client took 1*256+4 from "(127,0,0,1,4,1)".
    void passivePort_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("port");
        QTest::newRow("parentheses") << "227 Entering Passive Mode (127,0,0,1,4,1)." << 1025;
        QTest::newRow("comma in the text before")
            << "227 Entering Passive Mode, port (127,0,0,1,4,1)." << 1025;
        QTest::newRow("bare, blanks around commas") << "227 =127, 0, 0, 1, 4, 2" << 1026;
        QTest::newRow("a number past 255") << "227 Passive (127,0,0,1,256,1)" << -1;
        QTest::newRow("a host part that is no number") << "227 Passive (12x,0,0,1,4,1)" << -1;
        QTest::newRow("five numbers") << "227 Entering Passive Mode (127,0,0,1,4)" << -1;
        QTest::newRow("port 0") << "227 Passive (127,0,0,1,0,0)" << -1;
    }
    void passivePort() {
        QFETCH(QString, reply);
        QFETCH(int, port);
        QCOMPARE(TFtpClient::PassivePort(reply), port);
    }

    void login_data() {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<QByteArray>("userReply");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("expectedEvents");
        const QStringList userPass{"USER tolv", "PASS kqnwdrb"};
        QTest::newRow("two-line greeting")
            << QByteArray("220-Welcome\r\n220 ready\r\n") << QByteArray() << userPass << QString()
            << QStringList{"connect"};
        QTest::newRow("USER 230 skips PASS")
            << QByteArray() << QByteArray("230 No password needed.\r\n") << QStringList{"USER tolv"}
            << QString() << QStringList{"connect"};
        QTest::newRow("USER 530 refuses")
            << QByteArray() << QByteArray("530 Login incorrect.\r\n")
            << QStringList{"USER tolv", "QUIT"} << QStringLiteral("530 Login incorrect.\r\n")
            << QStringList{"connfailed"};
        QTest::newRow("greeting 421 refuses")
            << QByteArray("421 Too many users.\r\n") << QByteArray() << QStringList{"QUIT"}
            << QStringLiteral("421 Too many users.\r\n") << QStringList{"connfailed"};
        QTest::newRow("greeting code 400 passes")
            << QByteArray("400 odd but fine\r\n") << QByteArray() << userPass << QString()
            << QStringList{"connect"};
    }
    void login() {
        QFETCH(QByteArray, greeting);
        QFETCH(QByteArray, userReply);
        QFETCH(QStringList, sent);
        QFETCH(QString, error);
        QFETCH(QStringList, expectedEvents);
        if (!greeting.isEmpty())
            srv->greeting = greeting;
        if (!userReply.isEmpty())
            srv->replies.insert(QStringLiteral("USER"), userReply);
        QCOMPARE(errorOf([&] { ftp->Connect(); }), error);
        QCOMPARE(srv->commands, sent);
        QCOMPARE(events, expectedEvents);
        QCOMPARE(ftp->Connected(), error.isEmpty());
        QCOMPARE(sawStatus(QString::fromLatin1(FtpText::Disconnected)), !error.isEmpty());
        // every greeting line reaches the status at level 1
        for (const QByteArray& line : (greeting.isEmpty() ? srv->greeting : greeting).split('\n'))
            if (!line.isEmpty())
                QVERIFY(sawStatus(QString::fromLatin1(line + '\n')));
        QVERIFY(!statuses.contains(QStringLiteral("PASS kqnwdrb")));
    }

    void greetingClosedMidReply() {
        srv->greeting = "220-first line\r\n";
        srv->closeAfterGreeting = true;
        QCOMPARE(errorOf([&] { ftp->Connect(); }), QString::fromLatin1(FtpText::ClosedInReply));
        QVERIFY(!ftp->Connected());
    }

    void connectAndDisconnectTwice() {
        ftp->Connect();
        ftp->Connect();
        QCOMPARE(srv->commands.count(QStringLiteral("USER tolv")), 1);
        ftp->Disconnect();
        QVERIFY(!ftp->Connected());
        ftp->Disconnect();
        QCOMPARE(srv->commands.count(QStringLiteral("QUIT")), 1);
    }

    // A point that let its greeting time out is not waited on for a whole
    // time-out more at the goodbye: the time-out is raised to a minute once it
    // has struck, and only the goodbye's own bound ends the wait in time.
    void goodbyeAfterTimeOutHasItsOwnBound() {
        srv->greeting.clear();
        srv->replies.insert(QStringLiteral("QUIT"), QByteArray("")); // no answer
        ftp->TimeOut = 200;
        ftp->GoodbyeTimeOut = 50;
        bool stuck = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, this, [&] {
            stuck = true;
            ftp->Cancel();
        });
        // As the station's handler does, a time-out cancels the step.
        ftp->OnStatus = [&](TTcpSock*, const QString& text) {
            if (text != QLatin1String("Timer Triggered"))
                return;
            ftp->Cancel();
            if (!deadline.isActive() && !stuck) {
                ftp->TimeOut = 60000;
                deadline.start(10000);
            }
        };
        QVERIFY(!errorOf([&] { ftp->Connect(); }).isEmpty());
        QVERIFY(srv->commands.contains(QStringLiteral("QUIT")));
        QVERIFY(!stuck);
        QVERIFY(ftp->Reached());
    }

    void quitRefusedStillCloses() {
        srv->replies.insert(QStringLiteral("QUIT"), "500 No.\r\n");
        ftp->Connect();
        QCOMPARE(errorOf([&] { ftp->Disconnect(); }), QStringLiteral("500 No.\r\n"));
        QVERIFY(!ftp->Connected());
    }

    void commands_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("handled");
        QTest::addColumn<QStringList>("expectedEvents");
        QTest::addColumn<QString>("error");
        const QByteArray missing("550 x: No such file.\r\n");
        QTest::newRow("DELE 550 handled")
            << "DELE x" << missing << true << QStringList{"failure 2"} << QString();
        QTest::newRow("DELE 550 unhandled")
            << "DELE x" << missing << false << QStringList{"failure 2"} << QString(missing);
        QTest::newRow("DELE 250") << "DELE x" << QByteArray("250 Deleted.\r\n") << false
                                  << QStringList{"success 2"} << QString();
        QTest::newRow("DELETE is a plain command")
            << "DELETE x" << QByteArray("500 Unknown.\r\n") << true
            << QStringList{"unsupported 14", "failure 14"} << QString();
        QTest::newRow("501 unsupported") << "MKD a" << QByteArray("501 Syntax.\r\n") << true
                                         << QStringList{"unsupported 1", "failure 1"} << QString();
        QTest::newRow("502 unsupported") << "RMD a" << QByteArray("502 Not here.\r\n") << true
                                         << QStringList{"unsupported 3", "failure 3"} << QString();
        QTest::newRow("503 is no unsupported") << "CWD a" << QByteArray("503 Bad seq.\r\n") << true
                                               << QStringList{"failure 0"} << QString();
        QTest::newRow("399 succeeds") << "NOOP" << QByteArray("399 Hm.\r\n") << false
                                      << QStringList{"success 14"} << QString();
        QTest::newRow("PWD upper case") << "PWD" << QByteArray("257 \"/\"\r\n") << false
                                        << QStringList{"success 15"} << QString();
        QTest::newRow("pwd lower case") << "pwd" << QByteArray("257 \"/\"\r\n") << false
                                        << QStringList{"success 14"} << QString();
        QTest::newRow("multi-line reply")
            << "STAT" << QByteArray("211-Status\r\n more\r\n211 End\r\n") << false
            << QStringList{"success 14"} << QString();
    }
    void commands() {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, handled);
        QFETCH(QStringList, expectedEvents);
        QFETCH(QString, error);
        srv->replies.insert(command.section(QLatin1Char(' '), 0, 0), reply);
        ftp->Connect();
        events.clear();
        handleFailures = handled;
        QCOMPARE(errorOf([&] { ftp->SendCommand(command); }), error);
        QCOMPARE(events, expectedEvents);
        QCOMPARE(srv->commands.last(), command);
        QCOMPARE(int(ftp->ReplyNumber()), reply.left(3).toInt());
        // the connection is usable for the next command
        ftp->SendCommand(QStringLiteral("NOOP"));
    }

    void refusedBeforeSending_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        const QString bad = QString::fromLatin1(SockText::BadCharInCommand);
        QTest::newRow("CR LF in Delete") << "delete"
                                         << "x\r\nDELE important" << 2 << bad;
        QTest::newRow("CR LF in Download") << "download"
                                           << "x\r\nDELE important" << 9 << bad;
        QTest::newRow("NUL in Delete") << "delete" << QString::fromUtf16(u"x\0y", 3) << 2 << bad;
        QTest::newRow("NUL in Download")
            << "download" << QString::fromUtf16(u"x\0y", 3) << 9 << bad;
        QTest::newRow("NUL in a command")
            << "command" << QString::fromUtf16(u"NOOP\0x", 6) << 14 << bad;
        QTest::newRow("Write over 65,535 bytes")
            << "command"
            << "SITE " + QString(70000, 'a') << -1 << QString::fromLatin1(SockText::BufferTooLong);
    }
    void refusedBeforeSending() {
        QFETCH(QString, operation);
        QFETCH(QString, argument);
        QFETCH(int, kind);
        QFETCH(QString, error);
        ftp->Connect();
        events.clear();
        handleFailures = false;
        const QStringList before = srv->commands;
        QCOMPARE(errorOf([&] {
                     if (operation == "download")
                         ftp->Download(argument, local(QStringLiteral("out")));
                     else if (operation == "delete")
                         ftp->Delete(argument);
                     else
                         ftp->SendCommand(argument);
                 }),
                 error);
        QCOMPARE(events,
                 kind < 0 ? QStringList() : QStringList{QStringLiteral("failure %1").arg(kind)});
        ftp->SendCommand(QStringLiteral("NOOP")); // let anything sent arrive
        QCOMPARE(srv->commands, before + QStringList{"NOOP"});
    }

    void closedWithoutReplyFails() {
        srv->replies.insert(QStringLiteral("DELE"), "");
        srv->closeAfterReply = true;
        ftp->Connect();
        events.clear();
        handleFailures = false;
        QCOMPARE(errorOf([&] { ftp->Delete(QStringLiteral("x")); }),
                 QString::fromLatin1(FtpText::NoReply));
        QCOMPARE(events, QStringList{"failure 2"});
    }

    void closedMidReplyFails() {
        srv->replies.insert(QStringLiteral("DELE"), "250-first line\r\n");
        srv->closeAfterReply = true;
        ftp->Connect();
        events.clear();
        handleFailures = false;
        QCOMPARE(errorOf([&] { ftp->Delete(QStringLiteral("x")); }),
                 QString::fromLatin1(FtpText::ClosedInReply));
        QCOMPARE(events, QStringList{"failure 2"});
    }

    void overlongReplyFails() {
        srv->replies.insert(QStringLiteral("NOOP"), QByteArray(200000, 'A') + "\r\n");
        ftp->Connect();
        QCOMPARE(errorOf([&] { ftp->SendCommand(QStringLiteral("NOOP")); }),
                 QString::fromLatin1(SockText::LineTooLong));
    }

    void notConnected() {
        QCOMPARE(errorOf([&] { ftp->SendCommand(QStringLiteral("NOOP")); }),
                 QString::fromLatin1(SockText::NotConnected));
        ftp->Download(QStringLiteral("a"), local(QStringLiteral("a")));
        QCOMPARE(events, QStringList{"failure 9"});
    }

    void downloads_data() {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("retrReply");
        QTest::addColumn<QByteArray>("closing");
        QTest::addColumn<qint64>("announced");
        const QByteArray data("0123456789abcdefghij\0\r\n\xff tail", 29);
        QTest::newRow("active with byte count")
            << false << data << QByteArray() << QByteArray() << qint64(data.size());
        QTest::newRow("passive with byte count")
            << true << data << QByteArray() << QByteArray() << qint64(data.size());
        QTest::newRow("reply without byte count")
            << false << data << QByteArray("150 Here it comes.\r\n") << QByteArray() << qint64(0);
        QTest::newRow("multi-line RETR reply")
            << true << data << QByteArray("150-Opening\r\n150 for x (29 bytes)\r\n") << QByteArray()
            << qint64(29);
        QTest::newRow("empty file")
            << false << QByteArray("") << QByteArray() << QByteArray() << qint64(0);
        QTest::newRow("more than announced")
            << true << data << QByteArray("150 Opening (10 bytes)\r\n") << QByteArray()
            << qint64(10);
        QTest::newRow("250 after the data")
            << false << data << QByteArray() << QByteArray("250 Done.\r\n") << qint64(29);
    }
    void downloads() {
        QFETCH(bool, passive);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, retrReply);
        QFETCH(QByteArray, closing);
        QFETCH(qint64, announced);
        srv->files.insert(QStringLiteral("f.ras"), content);
        srv->retrReply = retrReply;
        if (!closing.isEmpty())
            srv->closingReply = closing;
        ftp->Passive = passive;
        qint64 sizeAtStart = -1;
        int packets = 0;
        ftp->OnTransactionStart = [&](TTcpSock*) { sizeAtStart = ftp->TransferSize(); };
        ftp->OnPacketRecvd = [&](TTcpSock* sender) {
            ++packets;
            QCOMPARE(sender, ftp->DataSocket());
            QVERIFY(ftp->BytesReceived() > 0);
        };
        ftp->Connect();
        events.clear();
        ftp->Download(QStringLiteral("f.ras"), local(QStringLiteral("f.ras")));
        QCOMPARE(events, QStringList{"success 9"});
        QCOMPARE(readFile(local(QStringLiteral("f.ras"))), content);
        QCOMPARE(sizeAtStart, announced);
        QCOMPARE(ftp->TransferSize(), qint64(content.size()));
        QCOMPARE(packets > 0, !content.isEmpty());
        QVERIFY(sawStatus(QStringLiteral("Received %1 Bytes").arg(content.size())));
        // one data connection of the mode asked for, and only of that mode
        QCOMPARE(srv->commands.count(QStringLiteral("PASV")), passive ? 1 : 0);
        QCOMPARE(srv->commands.filter(QRegularExpression("^PORT ")).size(), passive ? 0 : 1);
        ftp->Disconnect(); // the closing reply was read: QUIT gets its own answer
        QCOMPARE(ftp->LastReply(), QStringLiteral("221 Goodbye.\r\n"));
        QVERIFY(!ftp->Connected());
    }

    void retr550LeavesLocalFile() {
        const QString path = local(QStringLiteral("keep.ras"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier");
        f.close();
        ftp->Connect();
        events.clear();
        ftp->Download(QStringLiteral("missing.ras"), path);
        QCOMPARE(events, QStringList{"failure 9"});
        QCOMPARE(readFile(path), QByteArray("earlier"));
        QVERIFY(!srv->dataConnected);
        // unhandled: offered twice, then raised with the reply line
        handleFailures = false;
        events.clear();
        QCOMPARE(errorOf([&] { ftp->Download(QStringLiteral("missing.ras"), path); }),
                 QStringLiteral("550 No such file.\r\n"));
        QCOMPARE(events, (QStringList{"failure 9", "failure 9"}));
    }

    // Every doubtful ending of a download is a failure, and afterwards the
    // control connection is either in step (the next command gets its own
    // reply) or closed: never one command reading another's reply.
    void failedDownloads_data() {
        using Mode = ScriptedFtpServer::DataMode;
        QTest::addColumn<bool>("passive");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("retrReply");
        QTest::addColumn<QByteArray>("closing");
        QTest::addColumn<QByteArray>("pasvReply");
        QTest::addColumn<QString>("localFile"); // "" for a file in the test directory
        QTest::addColumn<bool>("cancelAtStart");
        QTest::addColumn<int>("timeOut");
        QTest::addColumn<QString>("error"); // the start of the error text
        QTest::addColumn<QString>("after"); // "in step" or "closed"
        const QByteArray none;
        const QByteArray noCount("150 Here it comes.\r\n");
        QTest::newRow("closing reply 426")
            << true << int(Mode::Normal) << none
            << QByteArray("426 Connection closed; transfer aborted.\r\n") << none << QString()
            << false << 5000 << "426 Connection closed; transfer aborted."
            << "in step";
        QTest::newRow("closing reply 451, active")
            << false << int(Mode::Normal) << none << QByteArray("451 Local error.\r\n") << none
            << QString() << false << 5000 << "451 Local error."
            << "in step";
        QTest::newRow("reset instead of a close")
            << false << int(Mode::Reset) << noCount << none << none << QString() << false << 5000
            << "10054:Connection reset by peer"
            << "in step";
        QTest::newRow("fewer bytes than announced")
            << true << int(Mode::Normal) << QByteArray("150 Opening (1000 bytes)\r\n") << none
            << none << QString() << false << 5000
            << "Transfer incomplete: 200 of 1000 bytes received"
            << "in step";
        QTest::newRow("fewer bytes than a continuation line announced")
            << true << int(Mode::Normal) << QByteArray("150-Opening (1000 bytes)\r\n150 Go.\r\n")
            << none << none << QString() << false << 5000
            << "Transfer incomplete: 200 of 1000 bytes received"
            << "in step";
        QTest::newRow("trickle below the minimum rate")
            << true << int(Mode::Trickle) << noCount << none << none << QString() << false << 1000
            << QString::fromLatin1(SockText::TransferTooSlow) << "in step";
        QTest::newRow("data stall")
            << false << int(Mode::Stall) << noCount << QByteArray("426 Aborted.\r\n") << none
            << QString() << false << 300 << QString::fromLatin1(SockText::SendAborted) << "in step";
        QTest::newRow("cannot create file")
            << true << int(Mode::Normal) << none << none << none << "missing/dir/f" << false << 5000
            << QString::fromLatin1(SockText::CannotCreateFile) << "in step";
        QTest::newRow("transfer aborted")
            << true << int(Mode::Normal) << none << none << none << QString() << true << 5000
            << QString::fromLatin1(FtpText::TransferAborted) << "closed";
        QTest::newRow("PASV reply without a port")
            << true << int(Mode::Normal) << none << none
            << QByteArray("227 Entering Passive Mode (127,0,0,1).\r\n") << QString() << false
            << 5000 << "227 Entering Passive Mode (127,0,0,1)."
            << "in step";
        QTest::newRow("data connection never opened")
            << false << int(Mode::Never) << none << none << none << QString() << false << 300
            << QString::fromLatin1(SockText::AcceptCanceled) << "closed";
    }
    void failedDownloads() {
        QFETCH(bool, passive);
        QFETCH(int, mode);
        QFETCH(QByteArray, retrReply);
        QFETCH(QByteArray, closing);
        QFETCH(QByteArray, pasvReply);
        QFETCH(QString, localFile);
        QFETCH(bool, cancelAtStart);
        QFETCH(int, timeOut);
        QFETCH(QString, error);
        QFETCH(QString, after);
        QByteArray content(200, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char('a' + i % 26);
        srv->files.insert(QStringLiteral("f"), content);
        srv->dataMode = ScriptedFtpServer::DataMode(mode);
        srv->retrReply = retrReply;
        if (!closing.isEmpty())
            srv->closingReply = closing;
        if (!pasvReply.isEmpty())
            srv->replies.insert(QStringLiteral("PASV"), pasvReply);
        ftp->Passive = passive;
        ftp->TimeOut = timeOut;
        if (cancelAtStart)
            ftp->OnTransactionStart = [&](TTcpSock*) { ftp->Cancel(); };
        ftp->Connect();
        events.clear();
        handleFailures = false;
        const QString target = local(localFile.isEmpty() ? QStringLiteral("f") : localFile);
        const QString raised = errorOf([&] { ftp->Download(QStringLiteral("f"), target); });
        QVERIFY2(raised.startsWith(error), qPrintable(raised));
        QVERIFY(!events.isEmpty());
        QVERIFY(!events.contains(QStringLiteral("success 9")));
        QCOMPARE(events.first(), QStringLiteral("failure 9"));
        if (after == "closed") {
            QVERIFY(!ftp->Connected());
            return;
        }
        QVERIFY(ftp->Connected());
        srv->replies.insert(QStringLiteral("STAT"), "211 Status of its own.\r\n");
        events.clear();
        ftp->SendCommand(QStringLiteral("STAT"));
        QCOMPARE(ftp->LastReply(), QStringLiteral("211 Status of its own.\r\n"));
        ftp->Disconnect();
        QCOMPARE(ftp->LastReply(), QStringLiteral("221 Goodbye.\r\n"));
    }

    // One reply with all its lines is bounded by the time-out and by its most
    // lines, however the server keeps it going.
    void unboundedReplies_data() {
        QTest::addColumn<QString>("dripAfter"); // command word, "" for the greeting
        QTest::addColumn<QByteArray>("reply");  // a reply sent at once, when not dripping
        QTest::addColumn<bool>("cancelOnTrigger");
        QTest::addColumn<QString>("error");
        const QString tooSlow = QString::fromLatin1(FtpText::ReplyTooSlow);
        QByteArray longReply;
        for (int i = 0; i < TFtpClient::MaxReplyLines; ++i)
            longReply += "200-line\r\n";
        QTest::newRow("endless reply") << "NOOP" << QByteArray() << false << tooSlow;
        QTest::newRow("endless reply, cancelled as the station does")
            << "NOOP" << QByteArray() << true << QString::fromLatin1(SockText::ReadLnAborted);
        QTest::newRow("endless greeting") << "" << QByteArray() << false << tooSlow;
        QTest::newRow("endless RETR reply") << "RETR" << QByteArray() << false << tooSlow;
        QTest::newRow("too many lines")
            << QString() << QByteArray(longReply + "200 end\r\n") << false
            << QString::fromLatin1(FtpText::ReplyTooLong).arg(TFtpClient::MaxReplyLines);
        QTest::newRow("most lines pass")
            << QString() << QByteArray(longReply.mid(10) + "200 end\r\n") << false << QString();
    }
    void unboundedReplies() {
        QFETCH(QString, dripAfter);
        QFETCH(QByteArray, reply);
        QFETCH(bool, cancelOnTrigger);
        QFETCH(QString, error);
        ftp->TimeOut = 500;
        handleFailures = false;
        if (!reply.isEmpty())
            srv->replies.insert(QStringLiteral("NOOP"), reply);
        else
            srv->dripping.insert(dripAfter, "200-more\r\n");
        if (cancelOnTrigger)
            ftp->OnStatus = [&](TTcpSock*, const QString& t) {
                if (t == QLatin1String("Timer Triggered"))
                    ftp->Cancel();
            };
        if (dripAfter.isEmpty() && reply.isEmpty()) {
            srv->greeting = "220-welcome\r\n";
            QCOMPARE(errorOf([&] { ftp->Connect(); }), error);
            QVERIFY(!ftp->Connected());
            return;
        }
        ftp->Connect();
        if (dripAfter == "RETR")
            QCOMPARE(errorOf([&] { ftp->Download("f", local("f")); }), error);
        else
            QCOMPARE(errorOf([&] { ftp->SendCommand(QStringLiteral("NOOP")); }), error);
        // the rest of a reply not read whole must not reach the next command
        QCOMPARE(ftp->Connected(), error.isEmpty());
    }

    void foreignDataConnectionRefused() {
        const QByteArray content("the real records");
        srv->files.insert(QStringLiteral("f"), content);
        srv->dataMode = ScriptedFtpServer::DataMode::ForeignFirst;
        ftp->Connect();
        events.clear();
        ftp->Download(QStringLiteral("f"), local(QStringLiteral("f")));
        QVERIFY(srv->foreignRejected);
        QCOMPARE(events, QStringList{"success 9"});
        QCOMPARE(readFile(local(QStringLiteral("f"))), content);
    }

    void stalledReplyCanceledFromStatus() {
        srv->replies.insert(QStringLiteral("NOOP"), "200-partial reply\r\n");
        ftp->TimeOut = 200;
        ftp->Connect();
        int triggered = 0;
        ftp->OnStatus = [&](TTcpSock*, const QString& t) {
            if (t == QLatin1String("Timer Triggered")) {
                ++triggered;
                ftp->Cancel();
            }
        };
        QCOMPARE(errorOf([&] { ftp->SendCommand(QStringLiteral("NOOP")); }),
                 QString::fromLatin1(SockText::ReadLnAborted));
        QCOMPARE(triggered, 1);
        QVERIFY(!ftp->Canceled());
    }

    void timerFiresWhileDownloadWaits() {
        QByteArray content(200000, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char(i * 7);
        srv->files.insert(QStringLiteral("slow"), content);
        srv->dataMode = ScriptedFtpServer::DataMode::Slow;
        ftp->Connect();
        int ticks = 0;
        int atStart = -1;
        int atStop = -1;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);
        ftp->OnTransactionStart = [&](TTcpSock*) { atStart = ticks; };
        ftp->OnTransactionStop = [&](TTcpSock*) {
            if (atStop < 0)
                atStop = ticks;
        };
        ftp->Download(QStringLiteral("slow"), local(QStringLiteral("slow")));
        QCOMPARE(readFile(local(QStringLiteral("slow"))), content);
        // ten slices 30 ms apart: the test's timer must have run in between
        QVERIFY(atStart >= 0);
        QVERIFY2(atStop - atStart > 2,
                 qPrintable(QStringLiteral("%1 ticks").arg(atStop - atStart)));
    }
};

QTEST_GUILESS_MAIN(FtpClientTest)
#include "tst_ftpclient.moc"
