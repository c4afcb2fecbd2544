// The storing run: each record once in lectura, lecturaBAK, the server table
// and the output file, whatever instant the run is cut short.
#include "collect/PuntoRegistro.h"

#include "collect/RunJournal.h"
#include "collect/TicketStatements.h"
#include "platform/Clock.h"
#include "platform/Regional.h"

#include <QFile>
#include <QStringEncoder>
#include <unistd.h>

namespace {

// The run's output file, cut back to its length when the run began, so that a
// recovery writes its lines once whatever the interrupted run had written.
class RunOutput {
public:
    RunOutput(const QString& path, qint64 start) : m_file(path) {
        const bool existed = m_file.exists();
        if (!m_file.open(existed ? QIODevice::ReadWrite : QIODevice::WriteOnly))
            throw Exception(
                QStringLiteral("Cannot open file \"%1\". %2").arg(path, m_file.errorString()));
        if (existed && m_file.size() > start && !m_file.resize(start))
            throw Exception(
                QStringLiteral("Cannot cut back \"%1\". %2").arg(path, m_file.errorString()));
        m_file.seek(m_file.size());
    }
    // Windows-1252 with CR LF; written in blocks, since the file only counts
    // once finish() has put all of it on the disk.
    void writeLine(const QString& line) {
        m_pending += m_encoder.encode(line);
        m_pending += "\r\n";
        if (m_pending.size() >= 65536)
            writePending();
    }
    void finish() {
        writePending();
        if (!m_file.flush() || ::fsync(m_file.handle()) != 0)
            fail();
        m_file.close();
    }

private:
    void writePending() {
        if (m_file.write(m_pending) != m_pending.size())
            fail();
        m_pending.clear();
    }
    [[noreturn]] void fail() {
        throw Exception(QStringLiteral("Cannot write file \"%1\". %2")
                            .arg(m_file.fileName(), m_file.errorString()));
    }
    QFile m_file;
    QStringEncoder m_encoder{"windows-1252"};
    QByteArray m_pending;
};

// "regOrf.txt" only has to exist afterwards; nothing is written to it.
void touchOrf() {
    QFile orf(kOrfFile);
    if (!orf.open(QIODevice::Append | QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(kOrfFile, orf.errorString()));
}

// A record file that ends inside a record is kept for inspection, beside the
// one that the next fetch replaces.
QString keepBrokenFile(const QString& runId) {
    const QString kept = kRecordFile + QStringLiteral(".incompleto-") + runId.left(8);
    QFile::remove(kept);
    QFile::copy(kRecordFile, kept);
    return kept;
}

} // namespace

void PuntoRegistro::procesarDescarga(const QString& Loc, bool recoveryRun) {
    const RecoveryExtra run = m.recovery;
    const int count = leerCantidad(kCountFile);
    RunOutput out(run.outputPath, run.outputStart);
    touchOrf();
    RecordReader reader(kRecordFile);

    const bool localDone =
        RunJournal::holds(m.localAlias, false, run.runId, RunJournal::kLocalStore);
    const bool serverDone =
        !serverOn() || RunJournal::holds(m.serverAlias, true, run.runId, RunJournal::kServerStore);
    // Both aliases may name one database: then one transaction holds both.
    const bool oneDatabase = m.serverAlias == m.localAlias;
    StoreTransaction local(m.localAlias), server(m.serverAlias);
    if (!localDone || (oneDatabase && !serverDone))
        local.begin();
    if (!serverDone && !oneDatabase)
        server.begin();
    TicketStatements statements(m.localAlias, serverDone ? QString() : m.serverAlias);
    const QChar decimal = formatSettings().decimalSeparator;
    bool broken = false;
    int stored = 0;
    for (int i = 0; i < count; ++i) {
        RegistroTicket r;
        const auto result = reader.leerRegistro(r);
        if (result != RecordReader::Result::Record) {
            broken = result == RecordReader::Result::BrokenTail || (!reader.exists() && count > 0);
            break;
        }
        if (i < run.skip)
            continue;
        step("record", i);
        if (!localDone)
            statements.storeLocal(r, Loc);
        const Person person = statements.lookUp(r.Codigo);
        if (!serverDone)
            statements.storeServer(r, person, Loc);
        out.writeLine(outputLine(Loc, r, person, decimal));
        ++stored;
    }
    step("before-commits");
    if (!localDone) {
        RunJournal::append(m.localAlias, false, run.runId, RunJournal::kLocalStore, Loc, stored);
        if (!oneDatabase)
            local.commit();
    }
    step("between-commits");
    if (!serverDone) {
        RunJournal::append(m.serverAlias, true, run.runId, RunJournal::kServerStore, Loc, stored);
        if (!oneDatabase)
            server.commit();
    }
    if (oneDatabase && local.active())
        local.commit();
    step("after-commits");
    out.finish();
    step("output-written");
    if (broken)
        reportBrokenTail(Loc, reader.exists() ? keepBrokenFile(run.runId) : QString());
    finishRun(Loc, count, recoveryRun);
}

void PuntoRegistro::reportBrokenTail(const QString& Loc, const QString& keptAs) {
    const QString text =
        QStringLiteral("ERROR: archivo de registros incompleto (Loc: %1)").arg(Loc) +
        (keptAs.isEmpty() ? QStringLiteral("; no hay archivo local")
                          : QStringLiteral("; guardado como ") + keptAs);
    m.report.memoAppend(QStringLiteral(" [registro incompleto]"));
    m.report.statusText(text);
    m.report.logRow(text);
}

void PuntoRegistro::finishRun(const QString& Loc, int count, bool recoveryRun) {
    m.report.memoAppend(QStringLiteral(" %1 registro(s).\r\n").arg(count));
    QString archivo = Loc + QStringLiteral(": ") + m.recovery.outputPath;
    if (m.recovery.appendMark)
        archivo += QLatin1Char('*');
    if (recoveryRun)
        archivo += QLatin1Char('%');
    m.report.logRow(archivo, count);
    if (recoveryRun) {
        const TDateTime now = Now();
        m.report.statusText(QStringLiteral("Registros recuperados con exito. ") + DateToStr(now) +
                            QLatin1Char(' ') + TimeToStr(now));
    }
    step("before-clear");
    // The run's values stay: without the flag they mean nothing, and a save
    // cut short before the flag is cleared still finds its own run.
    m.fFTPerr = false;
    m.guardarParam();
}
