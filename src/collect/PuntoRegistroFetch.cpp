// The fetch step of one point and the FTP client's event handlers.
#include "collect/PuntoRegistro.h"

#include "collect/RunJournal.h"
#include "net/NetPorts.h"
#include "platform/Regional.h"
#include "store/Aliases.h"

#include <QCryptographicHash>
#include <QFile>
#include <QUuid>
#include <unistd.h>

namespace {

const QString kNoAccess = QStringLiteral("ERROR: no se puede tener acceso a la base de datos.");

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
    if (::fsync(file.handle()) != 0)
        throw Exception(QStringLiteral("Cannot flush \"%1\" to disk").arg(path));
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
    if (!tablesAccessible()) {
        m.report.statusText(kNoAccess);
        return;
    }
    if (!m.fFTPerr) {
        if (!descargarArchivos(IP, Desc, Loc, output))
            return;
        procesarDescarga(Loc, false);
        return;
    }
    // The run's own Loc: FTPloc may lag behind it when a save was cut short.
    const QString loc = m.recovery.runId.isEmpty() ? m.FTPloc : m.recovery.loc;
    m.report.logRow(QStringLiteral("Recuperando registros de anterior descarga FTP (Loc: ") + loc +
                    QStringLiteral(")..."));
    m.report.memoAppend(QStringLiteral("   Recuperando registros de anterior descarga..."));
    m.report.statusText(QStringLiteral("Recuperando registros de anterior descarga FTP..."));
    if (m.recovery.runId.isEmpty()) // a flag saved before runs had an identity
        startRun(QString(), loc, output);
    else if (m.recovery.outputPath == output.path)
        recoverIntoCycleOutput(output);
    procesarDescarga(loc, true);
}

// The recovered lines go to the file this cycle writes. A cycle that empties
// it and has not yet done so empties it now, before them; either way the
// cycle must not empty the recovered lines again.
void PuntoRegistro::recoverIntoCycleOutput(CycleOutput& output) {
    if (output.overwrite && !output.emptied) {
        const RecoveryExtra before = m.recovery;
        m.recovery.outputStart = 0;
        m.recovery.appendMark = false;
        try {
            m.guardarParam(); // a recovery cut short must cut back to the same length
        } catch (...) {
            m.recovery = before;
            throw;
        }
    }
    output.emptied = true;
}

bool PuntoRegistro::descargarArchivos(const QString& IP, const QString& Desc, const QString& Loc,
                                      CycleOutput& output) {
    if (!connectTo(IP, Desc))
        return false;
    // Any doubt about the transfer: the point keeps its records.
    if (!downloadFiles()) {
        disconnectQuietly();
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        return false;
    }
    startRun(IP, Loc, output);
    step("before-delete");
    sendDelete(IP);
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
    } catch (const std::exception&) {
        // A failed log-in has closed the connection itself; a failed connect
        // leaves the socket to the cycle's CloseSocket.
        const QString text = QStringLiteral("FTP: No se pudo establecer conexión con ") + target;
        m.report.logRow(text);
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m.report.statusText(text);
        return false;
    }
}

// The count file, then the record file unless the count is 0; true when no
// step failed or was reported failed, and both local files are on the disk.
bool PuntoRegistro::downloadFiles() {
    FalloFTP = false;
    try {
        m.ftp.Download(kCountFile, kCountFile);
        int count = 1;
        try {
            count = leerCantidad(kCountFile);
        } catch (const std::exception&) {
            count = 1; // unreadable: fetch the record file anyway
        }
        if (count != 0)
            m.ftp.Download(kRecordFile, kRecordFile);
        flushLocalFiles();
    } catch (const std::exception&) {
        return false;
    }
    return !FalloFTP;
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
// is never confirmed.
void PuntoRegistro::startRun(const QString& IP, const QString& Loc, CycleOutput& output) {
    RecoveryExtra& run = m.recovery;
    const RecoveryExtra before = run;
    const bool flagBefore = m.fFTPerr; // set already when a flag without a run is recovered
    const QString locBefore = m.FTPloc;
    const bool emptiedBefore = output.emptied;
    int count = 0;
    try {
        count = leerCantidad(kCountFile);
    } catch (const std::exception&) {
        count = 0;
    }
    const int present = recordsPresent(kRecordFile, count);
    run.skip = 0;
    if (!IP.isEmpty() && run.pending.contains(IP)) {
        const PendingDelete old = run.pending.value(IP);
        // Stored already (its run is journaled) and the point never deleted them.
        if (old.count <= present && prefixHash(kRecordFile, old.count) == old.sha256 &&
            RunJournal::holds(m.localAlias, false, old.runId, RunJournal::kLocalStore))
            run.skip = old.count;
        run.pending.remove(IP);
    }
    run.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.loc = Loc;
    if (!IP.isEmpty() && present > 0)
        run.pending.insert(IP, {run.runId, present, prefixHash(kRecordFile, present)});
    run.outputPath = output.path;
    const bool emptyIt = output.overwrite && !output.emptied;
    QFile out(output.path);
    run.appendMark = !output.overwrite && out.exists();
    run.outputStart = emptyIt || !out.exists() ? 0 : out.size();
    if (output.overwrite)
        output.emptied = true;
    m.fFTPerr = true;
    m.FTPloc = Loc;
    try {
        m.guardarParam();
    } catch (...) {
        // A run whose state is not on the disk does not happen: nothing is
        // stored or deleted, and the point keeps its records for a later cycle.
        m.fFTPerr = flagBefore;
        m.FTPloc = locBefore;
        run = before;
        output.emptied = emptiedBefore;
        throw;
    }
}

void PuntoRegistro::sendDelete(const QString& IP) {
    FalloFTP = false;
    bool confirmed = true;
    try {
        m.ftp.Delete(kRemoteDeleteName);
    } catch (const std::exception&) {
        confirmed = false;
    }
    // Saved at once: a run that fails later must not leave the point's old
    // bytes standing as "not deleted".
    if (confirmed && !FalloFTP && m.recovery.pending.remove(IP) > 0)
        m.guardarParam();
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
