// The fetch step of one point and the FTP client's event handlers.
#include "collect/PointFetch.h"

#include "collect/RunOutput.h"
#include "platform/DiskSync.h"
#include "platform/Regional.h"
#include "store/OffLoop.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

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

// One local copy fetched elsewhere replaces the working directory's.
void moveIn(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw Exception(QStringLiteral("Cannot move \"%1\" to \"%2\". %3")
                            .arg(from, to, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

PointFetch::PointFetch(PointRun& run)
    : m_run(run), m(run.setup()), m_state(run.state()), m_outcome(run.outcome()),
      m_transfer(m.ftp, m.report) {}

PointFetch::~PointFetch() = default;

std::unique_ptr<RunOutput> PointFetch::descargarArchivos(const QString& IP, const QString& Desc,
                                                         const QString& Loc, const QString& lease,
                                                         CycleOutput& output) {
    m_out.reset();
    m_unreached = false;
    m_link = &m_transfer;
    m_recount = -1;
    if (!connectTo(IP, Desc))
        return nullptr;
    // Any doubt about the transfer: the point keeps its records.
    if (!m_transfer.downloadFiles()) {
        m_transfer.disconnectQuietly();
        downloadFailed();
        return nullptr;
    }
    m_count = m_transfer.count();
    return startAndDelete(pointKey(IP, m_transfer.peer()), Loc, lease, output);
}

// The files are in the folder of the transfer that fetched them, which has
// said its own texts; they are moved into the working directory only here,
// one run at a time, so that the local copies are always the run's.
std::unique_ptr<RunOutput> PointFetch::adoptFetched(const QString& IP, const QString& Loc,
                                                    const QString& lease, CycleOutput& output,
                                                    const FetchedFiles& files, PointLink& link) {
    m_out.reset();
    m_unreached = false;
    m_link = &link;
    if (files.failure) {
        connectFailed(*files.failure);
        return nullptr;
    }
    if (!files.filesOk) {
        downloadFailed();
        return nullptr;
    }
    try {
        moveIn(QDir(files.folder).filePath(kCountFile), kCountFile);
        if (files.count.value_or(1) != 0)
            moveIn(QDir(files.folder).filePath(kRecordFile), kRecordFile);
        flushFolderToDisk(QDir::currentPath());
    } catch (...) {
        link.letGo();
        throw;
    }
    m_count = files.count;
    m_recount = files.recount;
    return startAndDelete(pointKey(IP, files.peer), Loc, lease, output);
}

// The files are in the working directory and the connection still open.
std::unique_ptr<RunOutput> PointFetch::startAndDelete(const QString& point, const QString& Loc,
                                                      const QString& lease, CycleOutput& output) {
    try {
        startRun(point, Loc, lease, output);
    } catch (...) {
        m_link->letGo();
        throw;
    }
    // An output file that cannot be written fails the point before anything
    // is deleted on it.
    if (!m_out) {
        m_link->letGo();
        return nullptr;
    }
    serveTheEventLoop(); // the run is saved; the lease's check and the delete follow
    if (!m_run.leases().stillOurs() || !filesStillTheRuns(Loc)) {
        m_out.reset();
        m_link->letGo();
        return nullptr;
    }
    m_run.step("before-delete");
    if (m_verdict.deleteIt)
        sendDelete();
    else if (!m_verdict.keptWhy.isEmpty())
        reportKept(Loc, m_verdict.keptWhy);
    m_outcome.kept = !m_verdict.deleteIt && m_state.run.count > 0;
    m_run.step("after-delete");
    m_link->letGo();
    return std::move(m_out);
}

bool PointFetch::connectTo(const QString& IP, const QString& Desc) {
    // With other points waiting, a silent point costs one time-out, not two.
    const int goodbye = m_run.pointsAtOnce() > 1 ? kGoodbyeAfterTimeOutMs : 0;
    const std::optional<ConnectFailure> failure =
        m_transfer.connectTo(IP, Desc, m.ftpTimeOut(), goodbye);
    if (failure)
        connectFailed(*failure);
    return !failure;
}

void PointFetch::connectFailed(const ConnectFailure& failure) {
    m_run.pointFailed(failure.why, failure.transient);
    m_outcome.errorCode = failure.errorCode;
    m_unreached = failure.unreached;
}

void PointFetch::downloadFailed() {
    m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
    m_run.pointFailed(QStringLiteral("falló la descarga de los archivos"), true);
}

// One terminal reached under two address texts ("127.0.2.1", "127.0.2.01", a
// host name) is one point: its unconfirmed deletes are kept by the control
// connection's peer address.
QString PointFetch::pointKey(const QString& IP, quint32 peer) {
    return peer != 0 ? QHostAddress(peer).toString() : IP;
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
    const int again = m_recount >= 0 ? m_recount : m_link->countAgain();
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

void PointFetch::reportKept(const QString& Loc, const QString& why) {
    m.report.memoAppend(QStringLiteral(" [sin borrar]"));
    m_run.reportProblem(
        QStringLiteral("AVISO (Loc: %1): %2; el punto conserva sus registros.").arg(Loc, why));
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
    m_outcome.deleted = m_link->sendDelete();
}
