// The fetch step of one point and the FTP client's event handlers.
#include "collect/PointFetch.h"

#include "collect/RunOutput.h"
#include "net/NetPorts.h"
#include "net/SockErrors.h"
#include "net/WinsockErrors.h"
#include "platform/DiskSync.h"
#include "platform/Regional.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QUuid>

namespace {

// The second reading of the count, beside the run's own count file.
const QString kCountRecheckFile = QStringLiteral("nroRegAsist.ras.2");

QByteArray prefixHash(const QString& path, int records) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(qint64(records) * kRecordSize);
    if (bytes.size() != qint64(records) * kRecordSize)
        return {};
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// Whole records the local record file holds, up to the count.
int recordsPresent(const QString& path, int count) {
    return static_cast<int>(std::min<qint64>(count, QFile(path).size() / kRecordSize));
}

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

} // namespace

PointFetch::PointFetch(PointRun& run)
    : m_run(run), m(run.setup()), m_state(run.state()), m_outcome(run.outcome()) {
    m.ftp.OnStatus = [this](TTcpSock* s, const QString& text) { ftpStatus(s, text); };
    m.ftp.OnPacketRecvd = [this](TTcpSock* s) { packetReceived(s); };
    m.ftp.OnFailure = [this](bool& handled, TCmdType type) { ftpFailed(handled, type); };
}

PointFetch::~PointFetch() {
    m.ftp.OnStatus = nullptr;
    m.ftp.OnPacketRecvd = nullptr;
    m.ftp.OnFailure = nullptr;
}

std::unique_ptr<RunOutput> PointFetch::descargarArchivos(const QString& IP, const QString& Desc,
                                                         const QString& Loc, const QString& lease,
                                                         CycleOutput& output) {
    m_out.reset();
    if (!connectTo(IP, Desc))
        return nullptr;
    const QString point = pointKey(IP);
    // Any doubt about the transfer: the point keeps its records.
    if (!downloadFiles()) {
        disconnectQuietly();
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m_run.pointFailed(QStringLiteral("falló la descarga de los archivos"), true);
        return nullptr;
    }
    startRun(point, Loc, lease, output);
    // An output file that cannot be written fails the point before anything
    // is deleted on it.
    if (!m_out) {
        disconnectQuietly();
        return nullptr;
    }
    if (!m_run.leases().stillOurs() || !filesStillTheRuns(Loc)) {
        m_out.reset();
        disconnectQuietly();
        return nullptr;
    }
    m_run.step("before-delete");
    if (m_verdict.deleteIt)
        sendDelete();
    else if (!m_verdict.keptWhy.isEmpty())
        reportKept(Loc, m_verdict.keptWhy);
    m_outcome.kept = !m_verdict.deleteIt && m_state.run.count > 0;
    m_run.step("after-delete");
    disconnectQuietly();
    return std::move(m_out);
}

bool PointFetch::connectTo(const QString& IP, const QString& Desc) {
    const QString target = IP + QStringLiteral(" (") + Desc + QLatin1Char(')');
    m.report.logRow(QStringLiteral("FTP: Conectando con ") + target + QStringLiteral(" ..."));
    m_desc = Desc;
    m.ftp.Host = IP;
    m.ftp.Port = ftpPort();
    m.ftp.TimeOut = m.ftpTimeOut();
    m.report.memoAppend(QStringLiteral("   ") + Desc + QStringLiteral("..."));
    m.report.statusText(QStringLiteral("FTP: Conectando con ") + target + QStringLiteral(" ..."));
    try {
        m.ftp.Connect();
        return true;
    } catch (const std::exception& error) {
        // A failed log-in has closed the connection itself; a failed connect
        // leaves the socket to the cycle's CloseSocket.
        const QString text = QStringLiteral("FTP: No se pudo establecer conexión con ") + target;
        m_run.pointFailed(QStringLiteral("no se pudo establecer conexión: ") +
                              QString::fromUtf8(error.what()),
                          transientFailure(error));
        m_outcome.errorCode = errorCodeOf(error);
        m.report.logRow(text);
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m.report.statusText(text);
        return false;
    }
}

// One terminal reached under two address texts ("127.0.2.1", "127.0.2.01", a
// host name) is one point: its unconfirmed deletes are kept by the control
// connection's peer address.
QString PointFetch::pointKey(const QString& IP) const {
    const quint32 peer = m.ftp.PeerAddress();
    return peer != 0 ? QHostAddress(peer).toString() : IP;
}

// The count file, then the record file unless the count is 0; true when no
// step failed or was reported failed, and both local files are on the disk.
bool PointFetch::downloadFiles() {
    m_ftpFailed = false;
    m_count.reset();
    try {
        m.ftp.Download(kCountFile, kCountFile);
        try {
            m_count = leerCantidad(kCountFile);
        } catch (const std::exception&) {
            m_count.reset(); // unreadable: fetch the record file anyway
        }
        if (m_count.value_or(1) != 0)
            m.ftp.Download(kRecordFile, kRecordFile);
        flushLocalFiles();
    } catch (const std::exception&) {
        return false;
    }
    return !m_ftpFailed;
}

// The point erases every record it holds when asked to delete, also those
// beyond its count. So it is asked only when the record file holds exactly
// the counted records, or a stale tail behind them: the same bytes at two
// visits in a row, with a count that does not change between two readings.
// A ticket issued after that second reading and before the delete is still
// lost: only the point could close that window.
PointFetch::FilesVerdict PointFetch::judgeFiles(const QString& point, int skip) {
    const int count = m_count.value_or(0);
    if (count == 0)
        return {false, {}}; // nothing to collect, and the record file was not fetched
    const qint64 whole = QFile(kRecordFile).size() / kRecordSize;
    if (QFile(kRecordFile).size() < qint64(count) * kRecordSize)
        return {false, QStringLiteral("el archivo de registros tiene %1 de los %2 registros "
                                      "de la cantidad")
                           .arg(whole)
                           .arg(count)};
    // Stored records still at the head of the file and a smaller count: the
    // point emptied its count file but not its records, and what follows
    // them is not counted.
    if (skip > count)
        return {false, QStringLiteral("la cantidad (%1) es menor que los %2 registros ya "
                                      "almacenados que el archivo todavía contiene")
                           .arg(count)
                           .arg(skip)};
    if (whole > count)
        return judgeTail(point, count);
    m_state.tails.remove(point);
    return {};
}

PointFetch::FilesVerdict PointFetch::judgeTail(const QString& point, int count) {
    const int again = countAgain();
    if (again < 0)
        return {false, QStringLiteral("no se pudo volver a leer la cantidad")};
    if (again != count)
        return {false, QStringLiteral("la cantidad pasó de %1 a %2 durante la descarga")
                           .arg(count)
                           .arg(again)};
    QFile file(kRecordFile);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(qint64(count) * kRecordSize))
        return {false, QStringLiteral("no se pudo leer el final del archivo de registros")};
    const QByteArray tail = file.readAll();
    const TailSeen seen{QCryptographicHash::hash(tail, QCryptographicHash::Sha256), tail.size()};
    const auto before = m_state.tails.constFind(point);
    if (before != m_state.tails.constEnd() && before->sha256 == seen.sha256 &&
        before->bytes == seen.bytes) {
        m_state.tails.remove(point);
        return {}; // a stale tail: the same bytes as at the last visit
    }
    m_state.tails.insert(point, seen);
    return {false, QStringLiteral("el archivo de registros tiene %1 byte(s) más que la cantidad; "
                                  "se borran sin almacenar solo si siguen iguales en la próxima "
                                  "visita")
                       .arg(seen.bytes)};
}

// The count read once more, into a file of its own: the local count file is
// part of the run. -1 when it cannot be read.
int PointFetch::countAgain() {
    m_ftpFailed = false;
    int count = -1;
    try {
        m.ftp.Download(kCountFile, kCountRecheckFile);
        if (!m_ftpFailed)
            count = leerCantidad(kCountRecheckFile);
    } catch (const std::exception&) {
        count = -1;
    }
    QFile::remove(kCountRecheckFile);
    m_ftpFailed = false;
    return count;
}

void PointFetch::reportKept(const QString& Loc, const QString& why) {
    m.report.memoAppend(QStringLiteral(" [sin borrar]"));
    m_run.reportProblem(
        QStringLiteral("AVISO (Loc: %1): %2; el punto conserva sus registros.").arg(Loc, why));
}

void PointFetch::disconnectQuietly() {
    try {
        m.ftp.Disconnect();
    } catch (const std::exception&) {
        // the connection is going anyway
    }
}

void PointFetch::flushLocalFiles() {
    syncFile(kCountFile);
    syncFile(kRecordFile);
}

// The local files become the only copy once the delete is sent: the run's
// state is saved first, with the bytes the point may still hold if the delete
// is never sent or confirmed, and its output file open (so that the state
// names which file it is). A run whose state is not on the disk does not
// happen: nothing is stored or deleted, and the point keeps its records.
void PointFetch::startRun(const QString& point, const QString& Loc, const QString& lease,
                          CycleOutput& output) {
    const RunState before = m_state;
    const bool emptiedBefore = output.emptied;
    const int count = m_count.value_or(0);
    RunRecord run;
    run.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.loc = Loc;
    run.workDir = QDir::currentPath();
    run.countSha256 = fileSha256(kCountFile);
    run.count = count;
    run.records = recordsPresent(kRecordFile, count);
    if (count > 0)
        run.recordSha256 = fileSha256(kRecordFile);
    run.point = point;
    run.lease = lease;
    run.priorPending = matchedEntry(m_run.leases().priorEntries(point), count);
    run.skip = run.priorPending ? run.priorPending->count : 0;
    if (!run.priorPending && m_state.pending.contains(point))
        run.priorPending = m_state.pending.value(point); // put back if the run is given up
    m_verdict = judgeFiles(point, run.skip);
    updatePending(run);
    setRunOutput(run, output);
    m_state.run = run;
    m_state.unfinished = true;
    if (!openRunOutput()) {
        m_state = before;
        output.emptied = emptiedBefore;
        return;
    }
    m_state.run.outputFile = m_out->identity();
    try {
        m_run.saveStateOrRevert(before, output, emptiedBefore);
    } catch (...) {
        m_out.reset();
        throw;
    }
}

// The entry of the records an earlier run stored that the file still begins
// with (the longest, when more do), once that run is journaled.
std::optional<PendingDelete> PointFetch::matchedEntry(const QList<PendingDelete>& entries,
                                                      int count) {
    std::optional<PendingDelete> best;
    if (count == 0)
        return best; // no record file fetched: nothing proves or disproves an entry
    for (const PendingDelete& entry : entries)
        if ((!best || entry.count > best->count) &&
            prefixHash(kRecordFile, entry.count) == entry.sha256 &&
            m_run.leases().journalHolds(entry.runId))
            best = entry;
    return best;
}

// The point's unconfirmed-delete entry: records stored that the point may
// still hold, also after a delete it confirmed (a point may empty its count
// file and not its records). An entry stands until a fetched record file
// no longer begins with its bytes.
void PointFetch::updatePending(RunRecord& run) {
    if (run.count == 0)
        return; // no record file fetched: the entry stands as it is
    if (run.skip > 0 && run.records <= run.skip) {
        m_state.pending.insert(run.point, *run.priorPending); // nothing new
        return;
    }
    m_state.pending.remove(run.point);
    if (run.records > 0)
        m_state.pending.insert(run.point,
                               {run.runId, run.records, prefixHash(kRecordFile, run.records)});
}

bool PointFetch::openRunOutput() {
    try {
        m_out = std::make_unique<RunOutput>(m_state.run.outputPath, m_state.run.outputStart);
        return true;
    } catch (const Exception& error) {
        m_run.pointFailed(error.message());
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m_run.reportProblem(QStringLiteral("ERROR: ") + error.message() +
                            QStringLiteral("; el punto conserva sus registros."));
        return false;
    }
}

// Right before the delete: the local copies are still the ones the run's
// state names. Another process writing the same folder would otherwise have
// the point emptied of records that no store will ever hold.
bool PointFetch::filesStillTheRuns(const QString& Loc) {
    if (runFilesMatch(m_state.run))
        return true;
    m_run.giveUpRun();
    m_run.pointFailed(QStringLiteral("los archivos locales cambiaron durante la descarga"));
    m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
    m_run.reportProblem(
        QStringLiteral("ERROR: los archivos locales de la descarga (Loc: %1) cambiaron "
                       "mientras se descargaban; no se almacenan y el punto conserva "
                       "sus registros.")
            .arg(Loc));
    return false;
}

// The entry of what was stored stays after a confirmed delete too.
void PointFetch::sendDelete() {
    m_ftpFailed = false;
    bool confirmed = true;
    try {
        m.ftp.Delete(kRemoteDeleteName);
    } catch (const std::exception&) {
        confirmed = false;
    }
    m_outcome.deleted = confirmed && !m_ftpFailed;
    m_ftpFailed = false;
}

void PointFetch::ftpStatus(TTcpSock*, const QString& status) {
    if (status == QLatin1String("Timer Triggered"))
        m.ftp.Cancel();
}

void PointFetch::packetReceived(TTcpSock*) {
    m.report.transfer(
        TransferProgress{m.ftp.Host, m_desc, m.ftp.BytesReceived(), m.ftp.TransferSize()});
}

void PointFetch::ftpFailed(bool& handled, TCmdType command) {
    if (command != ctDelete) {
        m.report.statusText(QStringLiteral("FTP: ¡FALLO!"));
        m.report.logRow(QStringLiteral("FTP: FALLO!"));
    }
    handled = true;
    m_ftpFailed = true;
}
