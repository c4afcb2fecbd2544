// ftpget: logs in to an FTP server with the station's client and downloads one
// file, printing the status texts up to a chosen level. A person uses it to
// check a registration point by hand.
#include "net/FtpClient.h"
#include "net/NetPorts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

// The time-out ends every wait, on the control connection too, as the
// station's status handler does when the timer triggers: a server that stops
// answering cannot hold the probe for ever.
class ProbeClient : public TFtpClient {
public:
    void Abort() override {
        TFtpClient::Abort();
        Cancel();
    }
};

void disconnectQuietly(TFtpClient& ftp) {
    try {
        ftp.Disconnect();
    } catch (const Exception&) {
        // the download's error is the one to report
    }
}

int run(const QCommandLineParser& args) {
    QTextStream out(stdout);
    ProbeClient ftp;
    ftp.Host = args.value(QStringLiteral("host"));
    ftp.Port =
        args.isSet(QStringLiteral("port")) ? args.value(QStringLiteral("port")).toInt() : ftpPort();
    ftp.UserID = args.value(QStringLiteral("user"));
    ftp.Password = args.value(QStringLiteral("password"));
    ftp.Passive = args.isSet(QStringLiteral("passive"));
    ftp.ReportLevel = args.value(QStringLiteral("level")).toInt();
    ftp.TimeOut = args.value(QStringLiteral("timeout")).toInt();
    ftp.OnStatus = [&out](TTcpSock*, const QString& text) {
        // reply lines carry their own CR LF
        out << QString(text).remove(QLatin1Char('\r')).remove(QLatin1Char('\n')) << Qt::endl;
    };
    ftp.OnPacketRecvd = [&](TTcpSock*) {
        if (ftp.ReportLevel >= 2)
            out << "... " << ftp.BytesReceived() << " of " << ftp.TransferSize() << Qt::endl;
    };
    // No OnFailure handler: a failure raises the error that ended the download.
    const QStringList files = args.positionalArguments();
    ftp.Connect();
    try {
        ftp.Download(files.at(0), files.value(1));
    } catch (const Exception& e) {
        disconnectQuietly(ftp);
        out << "ftpget: download failed: " << e.message().trimmed() << Qt::endl;
        return 1;
    }
    ftp.Disconnect();
    out << "ftpget: received " << ftp.TransferSize() << " bytes" << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.setApplicationDescription(
        QStringLiteral("Download one file with the station's FTP client."));
    args.addHelpOption();
    args.addOptions({
        {QStringLiteral("host"), QStringLiteral("Server name or address."), QStringLiteral("host")},
        {QStringLiteral("port"), QStringLiteral("Server port (default 21 or $KIVO_FTP_PORT)."),
         QStringLiteral("port")},
        {QStringLiteral("user"), QStringLiteral("User name."), QStringLiteral("user"),
         QStringLiteral("tolv")},
        {QStringLiteral("password"), QStringLiteral("Password."), QStringLiteral("password")},
        {QStringLiteral("passive"), QStringLiteral("Passive mode (PASV) instead of PORT.")},
        {QStringLiteral("level"), QStringLiteral("Highest status level printed (0-8)."),
         QStringLiteral("n"), QStringLiteral("16")},
        {QStringLiteral("timeout"), QStringLiteral("Time-out of each step in ms."),
         QStringLiteral("ms"), QStringLiteral("30000")},
    });
    args.addPositionalArgument(QStringLiteral("remote"), QStringLiteral("Remote file."));
    args.addPositionalArgument(QStringLiteral("local"),
                               QStringLiteral("Local file (default: remote)."),
                               QStringLiteral("[local]"));
    args.process(app);
    if (!args.isSet(QStringLiteral("host")) || args.positionalArguments().isEmpty())
        args.showHelp(2);
    try {
        return run(args);
    } catch (const Exception& e) {
        QTextStream(stderr) << "ftpget: " << e.message().trimmed() << Qt::endl;
        return 1;
    }
}
