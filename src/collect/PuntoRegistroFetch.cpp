// The fetch step of one point and the FTP client's event handlers.
#include "collect/PuntoRegistro.h"

#include "collect/RunJournal.h"
#include "collect/RunOutput.h"
#include "net/NetPorts.h"
#include "net/SockErrors.h"
#include "platform/DiskSync.h"
#include "platform/Regional.h"
#include "store/Aliases.h"

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

// A reset or a time-out may pass; a refusal or a wrong login will not.
bool transientFailure(const std::exception& error) {
    if (dynamic_cast<const EAbortError*>(&error))
        return true;
    const QString text = QString::fromUtf8(error.what());
    return text.contains(QLatin1String("10054")) || text.contains(QLatin1String("10060")) ||
           text.contains(QLatin1String("reset"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("timed out"), Qt::CaseInsensitive);
}

} // namespace

PuntoRegistro::PuntoRegistro(PointSetup setup) : m(std::move(setup)) {
    for (TTable* t : {&tLectura, &tLecturaBAK, &tLog})
        t->DatabaseName = m.localAlias;
    tLectura.TableName = QStringLiteral("lectura.DB");
    tLecturaBAK.TableName = QStringLiteral("lecturaBAK.db");
    tLog.TableName = QStringLiteral("log.DB");
    torRegAsist.DatabaseName = m.serverAlias;
    torRegAsist.TableName = QStringLiteral("dbo.tickettaxis");
    for (TQuery* q : {&qPersonal, &qCeco})
        q->DatabaseName = m.localAlias;
    m.ftp.OnStatus = [this](TTcpSock* s, const QString& text) { FtpClient1Status(s, text); };
    m.ftp.OnPacketRecvd = [this](TTcpSock* s) { FtpClient1PacketRecvd(s); };
    m.ftp.OnFailure = [this](bool& handled, TCmdType type) { FtpClient1Failure(handled, type); };
}

PuntoRegistro::~PuntoRegistro() {
    m.ftp.OnStatus = nullptr;
    m.ftp.OnPacketRecvd = nullptr;
    m.ftp.OnFailure = nullptr;
}

bool PuntoRegistro::serverOn() const {
    return m.serverAlias != kNoServerAlias;
}

bool PuntoRegistro::ftpConnected() const {
    return m.ftp.Connected();
}

void PuntoRegistro::closeFtp() {
    m.ftp.Disconnect();
    m.ftp.CloseSocket();
}

void PuntoRegistro::ensureJournals() {
    RunJournal::ensure(m.localAlias, false);
    if (serverOn())
        RunJournal::ensure(m.serverAlias, true);
}

// Opens and closes the four tables; the journals are added where missing.
bool PuntoRegistro::tablesAccessible() {
    try {
        QList<TDataSet*> tables{&tLectura, &tLecturaBAK};
        if (serverOn())
            tables << &torRegAsist;
        tables << &tLog;
        for (TDataSet* t : tables)
            t->Open();
        for (TDataSet* t : tables)
            t->Close();
        ensureJournals();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void PuntoRegistro::Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                              CycleOutput& output) {
    m_out.reset();
    // Until the run has finished, the point has failed; an error that escapes
    // leaves it so.
    m_outcome = PointOutcome{true, false, QStringLiteral("la descarga no terminó")};
    if (!tablesAccessible()) {
        m.report.statusText(kNoAccess);
        pointFailed(QStringLiteral("no se puede tener acceso a la base de datos"));
        return;
    }
    if (!loadState(Desc)) {
        pointFailed(QStringLiteral("no se puede leer el estado de recuperación"));
        return;
    }
    reportSideFiles(output);
    adoptKeyRun(output);
    if (m_state.unfinished) {
        // The interrupted run may be another point's: this visit says nothing
        // about this point's health.
        m_outcome = PointOutcome{};
        recoverRun(output);
        return;
    }
    if (!descargarArchivos(IP, Desc, Loc, output))
        return;
    // A count file that cannot be opened stops the run here, as a recovery's would.
    procesarDescarga(Loc, false, m_count ? *m_count : leerCantidad(m_state.run.countFile()));
}

void PuntoRegistro::pointFailed(const QString& why, bool transient) {
    m_outcome = PointOutcome{true, false, why, 0, transient};
}

void PuntoRegistro::reportProblem(const QString& text) {
    m.report.statusText(text);
    m.report.logRow(text);
}

// A state that cannot be read stops every fetch: its run's local copies may be
// the only copy of their records. Tried again at each visit.
bool PuntoRegistro::loadState(const QString& Desc) {
    if (m_stateLoaded)
        return true;
    try {
        m_state = RunState::load(m.statePath.isEmpty() ? RunState::defaultPath() : m.statePath);
        m_stateLoaded = true;
        return true;
    } catch (const Exception& error) {
        m.report.memoAppend(QStringLiteral("   ") + Desc + QStringLiteral("... FALLO\r\n"));
        reportProblem(QStringLiteral("ERROR: ") + error.message());
        return false;
    }
}

bool PuntoRegistro::descargarArchivos(const QString& IP, const QString& Desc, const QString& Loc,
                                      CycleOutput& output) {
    if (!connectTo(IP, Desc))
        return false;
    const QString point = pointKey(IP);
    // Any doubt about the transfer: the point keeps its records.
    if (!downloadFiles()) {
        disconnectQuietly();
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        pointFailed(QStringLiteral("falló la descarga de los archivos"), true);
        return false;
    }
    const FilesVerdict verdict = judgeFiles();
    const bool emptiedBefore = output.emptied;
    startRun(point, Loc, output);
    // An output file that cannot be written fails the point before anything
    // is deleted on it.
    if (!openRunOutput(output, emptiedBefore)) {
        disconnectQuietly();
        return false;
    }
    step("before-delete");
    if (verdict.deleteIt)
        sendDelete(point);
    else if (!verdict.keptWhy.isEmpty())
        reportKept(Loc, verdict.keptWhy);
    step("after-delete");
    disconnectQuietly();
    return true;
}

bool PuntoRegistro::connectTo(const QString& IP, const QString& Desc) {
    const QString target = IP + QStringLiteral(" (") + Desc + QLatin1Char(')');
    m.report.logRow(QStringLiteral("FTP: Conectando con ") + target + QStringLiteral(" ..."));
    DescActual = Desc;
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
        pointFailed(QStringLiteral("no se pudo establecer conexión: ") +
                        QString::fromUtf8(error.what()),
                    transientFailure(error));
        m.report.logRow(text);
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m.report.statusText(text);
        return false;
    }
}

// One terminal reached under two address texts ("127.0.2.1", "127.0.2.01", a
// host name) is one point: its unconfirmed deletes are kept by the control
// connection's peer address.
QString PuntoRegistro::pointKey(const QString& IP) const {
    const quint32 peer = m.ftp.PeerAddress();
    return peer != 0 ? QHostAddress(peer).toString() : IP;
}

// The count file, then the record file unless the count is 0; true when no
// step failed or was reported failed, and both local files are on the disk.
bool PuntoRegistro::downloadFiles() {
    FalloFTP = false;
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
    return !FalloFTP;
}

// The point erases every record it holds when asked to delete, also those
// beyond its count. So it is asked only when the record file holds exactly
// the counted records, or a stale tail behind them that a second reading of
// the count confirms. A ticket issued after that second reading and before
// the delete is still lost: only the point could close that window.
PuntoRegistro::FilesVerdict PuntoRegistro::judgeFiles() {
    const int count = m_count.value_or(0);
    if (count == 0)
        return {false, {}}; // nothing to collect, and the record file was not fetched
    const qint64 whole = QFile(kRecordFile).size() / kRecordSize;
    if (QFile(kRecordFile).size() < qint64(count) * kRecordSize)
        return {false, QStringLiteral("el archivo de registros tiene %1 de los %2 registros "
                                      "de la cantidad")
                           .arg(whole)
                           .arg(count)};
    if (whole > count) {
        const int again = countAgain();
        if (again < 0)
            return {false, QStringLiteral("no se pudo volver a leer la cantidad")};
        if (again != count)
            return {false, QStringLiteral("la cantidad pasó de %1 a %2 durante la descarga")
                               .arg(count)
                               .arg(again)};
    }
    return {};
}

// The count read once more, into a file of its own: the local count file is
// part of the run. -1 when it cannot be read.
int PuntoRegistro::countAgain() {
    FalloFTP = false;
    int count = -1;
    try {
        m.ftp.Download(kCountFile, kCountRecheckFile);
        if (!FalloFTP)
            count = leerCantidad(kCountRecheckFile);
    } catch (const std::exception&) {
        count = -1;
    }
    QFile::remove(kCountRecheckFile);
    FalloFTP = false;
    return count;
}

void PuntoRegistro::reportKept(const QString& Loc, const QString& why) {
    m.report.memoAppend(QStringLiteral(" [sin borrar]"));
    reportProblem(
        QStringLiteral("AVISO (Loc: %1): %2; el punto conserva sus registros.").arg(Loc, why));
}

void PuntoRegistro::disconnectQuietly() {
    try {
        m.ftp.Disconnect();
    } catch (const std::exception&) {
        // the connection is going anyway
    }
}

void PuntoRegistro::flushLocalFiles() {
    syncFile(kCountFile);
    syncFile(kRecordFile);
}

// The local files become the only copy once the delete is sent: the run's
// state is saved first, with the bytes the point may still hold if the delete
// is never sent or confirmed.
void PuntoRegistro::startRun(const QString& point, const QString& Loc, CycleOutput& output) {
    const RunState before = m_state;
    const bool emptiedBefore = output.emptied;
    const int count = m_count.value_or(0);
    RunRecord run;
    run.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.loc = Loc;
    run.workDir = QDir::currentPath();
    run.countSha256 = fileSha256(kCountFile);
    if (count > 0)
        run.recordSha256 = fileSha256(kRecordFile);
    run.point = point;
    if (m_state.pending.contains(point))
        run.priorPending = m_state.pending.value(point);
    updatePending(run, count);
    setRunOutput(run, output);
    m_state.run = run;
    m_state.unfinished = true;
    // A run whose state is not on the disk does not happen: nothing is stored
    // or deleted, and the point keeps its records for a later cycle.
    saveStateOrRevert(before, output, emptiedBefore);
}

void PuntoRegistro::saveStateOrRevert(const RunState& before, CycleOutput& output,
                                      bool emptiedBefore) {
    try {
        saveState();
    } catch (...) {
        m_state = before;
        output.emptied = emptiedBefore;
        throw;
    }
}

// The point's unconfirmed-delete entry: records stored already that the point
// may still hold. An earlier entry stands until a fetched record file shows
// that the point no longer holds them.
void PuntoRegistro::updatePending(RunRecord& run, int count) {
    if (count == 0)
        return; // no record file fetched: nothing proves or disproves the entry
    const int present = recordsPresent(kRecordFile, count);
    if (run.priorPending) {
        const PendingDelete& old = *run.priorPending;
        if (prefixHash(kRecordFile, old.count) == old.sha256 &&
            RunJournal::holds(m.localAlias, false, old.runId, RunJournal::kLocalStore)) {
            run.skip = old.count;
            if (present <= old.count)
                return; // nothing new: the entry stands as it is
        }
    }
    m_state.pending.remove(run.point);
    if (present > 0)
        m_state.pending.insert(run.point, {run.runId, present, prefixHash(kRecordFile, present)});
}

// The cycle's output file: emptied once in a cycle that overwrites, appended
// to otherwise ("*" when it held lines of earlier runs).
void PuntoRegistro::setRunOutput(RunRecord& run, CycleOutput& output) const {
    const QFileInfo out(output.path);
    const bool emptyIt = output.overwrite && !output.emptied;
    run.outputPath = out.absoluteFilePath();
    run.appendMark = !output.overwrite && out.exists();
    run.outputStart = emptyIt || !out.exists() ? 0 : out.size();
    if (output.overwrite)
        output.emptied = true;
}

bool PuntoRegistro::openRunOutput(CycleOutput& output, bool emptiedBefore) {
    try {
        m_out = std::make_unique<RunOutput>(m_state.run.outputPath, m_state.run.outputStart);
        return true;
    } catch (const Exception& error) {
        output.emptied = emptiedBefore;
        giveUpRun();
        pointFailed(error.message());
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        reportProblem(QStringLiteral("ERROR: ") + error.message() +
                      QStringLiteral("; el punto conserva sus registros."));
        return false;
    }
}

// A run that stored nothing and deleted nothing is forgotten, and the point's
// entry is as it was before it.
void PuntoRegistro::giveUpRun() {
    const RunRecord& run = m_state.run;
    if (m_state.pending.value(run.point).runId == run.runId)
        m_state.pending.remove(run.point);
    if (run.priorPending)
        m_state.pending.insert(run.point, *run.priorPending);
    m_state.unfinished = false;
    saveState();
}

void PuntoRegistro::sendDelete(const QString& point) {
    FalloFTP = false;
    bool confirmed = true;
    try {
        m.ftp.Delete(kRemoteDeleteName);
    } catch (const std::exception&) {
        confirmed = false;
    }
    // Saved at once: a run that fails later must not leave the point's old
    // bytes standing as "not deleted".
    if (confirmed && !FalloFTP && m_state.pending.remove(point) > 0)
        saveState();
    FalloFTP = false;
}

void PuntoRegistro::FtpClient1Status(TTcpSock*, const QString& Status) {
    if (Status == QLatin1String("Timer Triggered"))
        m.ftp.Cancel();
}

void PuntoRegistro::FtpClient1PacketRecvd(TTcpSock*) {
    m.report.statusText(
        QStringLiteral("FTP: %1/%2 - ").arg(m.ftp.BytesReceived()).arg(m.ftp.TransferSize()) +
        m.ftp.Host + QStringLiteral(" (") + DescActual + QStringLiteral(") ") + NowText());
}

void PuntoRegistro::FtpClient1Failure(bool& Handled, TCmdType Trans_Type) {
    if (Trans_Type != ctDelete) {
        m.report.statusText(QStringLiteral("FTP: ¡FALLO!"));
        m.report.logRow(QStringLiteral("FTP: FALLO!"));
    }
    Handled = true;
    FalloFTP = true;
}
