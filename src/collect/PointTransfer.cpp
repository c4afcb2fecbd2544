// The network half of a point's fetch.
#include "collect/PointTransfer.h"

#include "collect/Ticket.h"
#include "net/NetPorts.h"
#include "net/SockErrors.h"
#include "net/WinsockErrors.h"
#include "platform/DiskSync.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFile>

namespace {

// The second reading of the count, beside the run's own count file.
const QString kCountRecheckFile = QStringLiteral("nroRegAsist.ras.2");

// Data written by the download is on the disk before the point is asked to
// forget it.
void syncFile(const QString& path) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return; // absent: nothing to keep
    if (!flushToDisk(file))
        throw Exception(QStringLiteral("Cannot flush \"%1\" to disk").arg(path));
}

// The socket error behind a failure; 0 when it was none.
int errorCodeOf(const std::exception& error) {
    const auto* socket = dynamic_cast<const ESockError*>(&error);
    return socket ? socket->code() : 0;
}

// A reset or a time-out may pass; a refusal or a wrong login will not.
bool transientFailure(const std::exception& error) {
    if (dynamic_cast<const EAbortError*>(&error))
        return true;
    const int code = errorCodeOf(error);
    return code == Winsock::ConnectionReset || code == Winsock::ConnectionAborted ||
           code == Winsock::TimedOut;
}

// "6" for 6000 ms, "2,5" for 2500.
QString seconds(int ms) {
    return QString::number(qRound(ms / 100.0) / 10.0).replace(QLatin1Char('.'), QLatin1Char(','));
}

// Which step of the connection failed, in the words an operator reads in the
// health table, the journal and the alerts: a point that accepted the
// connection and stayed silent was reached, one that refused it was not.
QString connectFailure(const std::exception& error, bool reached, int timeOutMs) {
    const QString what = QString::fromUtf8(error.what());
    if (reached) {
        if (dynamic_cast<const EAbortError*>(&error) || errorCodeOf(error) == Winsock::TimedOut)
            return QStringLiteral("el punto aceptó la conexión pero no respondió en %1 s")
                .arg(seconds(timeOutMs));
        if (dynamic_cast<const FTPException*>(&error))
            return QStringLiteral("el punto rechazó el inicio de sesión: ") + what;
        return QStringLiteral("el punto cortó la conexión al iniciar la sesión: ") + what;
    }
    switch (errorCodeOf(error)) {
    case Winsock::Refused:
        return QStringLiteral("no se pudo conectar: conexión rechazada");
    case Winsock::TimedOut:
        return QStringLiteral("no se pudo conectar: no respondió en %1 s").arg(seconds(timeOutMs));
    case Winsock::HostUnreachable:
    case Winsock::NetUnreachable:
        return QStringLiteral("no se pudo conectar: no se llega al equipo");
    case Winsock::HostNotFound:
        return QStringLiteral("no se pudo conectar: no se encontró el equipo");
    default:
        return QStringLiteral("no se pudo conectar: ") + what;
    }
}

} // namespace

PointTransfer::PointTransfer(TFtpClient& ftp, StationReport& report, QString folder)
    : m_ftp(ftp), m_report(report), m_folder(std::move(folder)) {
    m_ftp.OnStatus = [this](TTcpSock*, const QString& text) { ftpStatus(text); };
    m_ftp.OnPacketRecvd = [this](TTcpSock*) { packetReceived(); };
    m_ftp.OnFailure = [this](bool& handled, TCmdType type) { ftpFailed(handled, type); };
}

PointTransfer::~PointTransfer() {
    m_ftp.OnStatus = nullptr;
    m_ftp.OnPacketRecvd = nullptr;
    m_ftp.OnFailure = nullptr;
}

QString PointTransfer::local(const QString& name) const {
    return m_folder.isEmpty() ? name : QDir(m_folder).filePath(name);
}

QString PointTransfer::countFile() const {
    return local(kCountFile);
}

QString PointTransfer::recordFile() const {
    return local(kRecordFile);
}

std::optional<ConnectFailure> PointTransfer::connectTo(const QString& IP, const QString& Desc,
                                                       int timeOutMs, int goodbyeMs) {
    const QString target = IP + QStringLiteral(" (") + Desc + QLatin1Char(')');
    m_report.logRow(QStringLiteral("FTP: Conectando con ") + target + QStringLiteral(" ..."));
    m_desc = Desc;
    m_ftp.Host = IP;
    m_ftp.Port = ftpPort();
    m_ftp.TimeOut = timeOutMs;
    m_ftp.GoodbyeTimeOut = goodbyeMs;
    m_report.memoAppend(QStringLiteral("   ") + Desc + QStringLiteral("..."));
    m_report.statusText(QStringLiteral("FTP: Conectando con ") + target + QStringLiteral(" ..."));
    try {
        m_ftp.Connect();
        return std::nullopt;
    } catch (const std::exception& error) {
        // A failed log-in has closed the connection itself; a failed connect
        // leaves the socket to the caller's CloseSocket.
        const ConnectFailure failure{connectFailure(error, m_ftp.Reached(), m_ftp.TimeOut),
                                     transientFailure(error), errorCodeOf(error),
                                     !m_ftp.Reached()};
        const QString text = QStringLiteral("FTP: No se pudo establecer conexión con ") + target;
        m_report.logRow(text);
        m_report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m_report.statusText(text);
        return failure;
    }
}

FetchedFiles PointTransfer::fetch(const QString& IP, const QString& Desc, int timeOutMs,
                                  int goodbyeMs) {
    FetchedFiles files;
    files.folder = m_folder;
    files.failure = connectTo(IP, Desc, timeOutMs, goodbyeMs);
    if (files.failure)
        return files;
    files.peer = peer();
    files.filesOk = downloadFiles();
    files.count = m_count;
    if (!files.filesOk) {
        disconnectQuietly();
        return files;
    }
    const int count = m_count.value_or(0);
    if (count > 0 && QFile(recordFile()).size() / kRecordSize > count)
        files.recount = countAgain();
    return files;
}

quint32 PointTransfer::peer() const {
    return m_ftp.PeerAddress();
}

bool PointTransfer::downloadFiles() {
    m_ftpFailed = false;
    m_count.reset();
    try {
        m_ftp.Download(kCountFile, countFile());
        try {
            m_count = leerCantidad(countFile());
        } catch (const std::exception&) {
            m_count.reset(); // unreadable: fetch the record file anyway
        }
        if (m_count.value_or(1) != 0)
            m_ftp.Download(kRecordFile, recordFile());
        syncFile(countFile());
        syncFile(recordFile());
    } catch (const std::exception&) {
        return false;
    }
    return !m_ftpFailed;
}

int PointTransfer::countAgain() {
    m_ftpFailed = false;
    int count = -1;
    const QString again = local(kCountRecheckFile);
    try {
        m_ftp.Download(kCountFile, again);
        if (!m_ftpFailed)
            count = leerCantidad(again);
    } catch (const std::exception&) {
        count = -1;
    }
    QFile::remove(again);
    m_ftpFailed = false;
    return count;
}

// The entry of what was stored stays after a confirmed delete too.
bool PointTransfer::sendDelete() {
    m_ftpFailed = false;
    bool confirmed = true;
    try {
        m_ftp.Delete(kRemoteDeleteName);
    } catch (const std::exception&) {
        confirmed = false;
    }
    confirmed = confirmed && !m_ftpFailed;
    m_ftpFailed = false;
    return confirmed;
}

void PointTransfer::disconnectQuietly() {
    try {
        m_ftp.Disconnect();
    } catch (const std::exception&) {
        // the connection is going anyway
    }
}

void PointTransfer::ftpStatus(const QString& status) {
    if (status == QLatin1String("Timer Triggered"))
        m_ftp.Cancel();
}

void PointTransfer::packetReceived() {
    m_report.transfer(
        TransferProgress{m_ftp.Host, m_desc, m_ftp.BytesReceived(), m_ftp.TransferSize()});
}

void PointTransfer::ftpFailed(bool& handled, TCmdType command) {
    if (command != ctDelete) {
        m_report.statusText(QStringLiteral("FTP: ¡FALLO!"));
        m_report.logRow(QStringLiteral("FTP: FALLO!"));
    }
    handled = true;
    m_ftpFailed = true;
}
