// One registration point's work: thin methods into the core, and the report
// channels (mStatus, StatusBar1, tLog) the core writes to.
#include "station/uPrincipal.h"

#include "collect/Cycles.h"
#include "collect/LogTable.h"
#include "collect/ServiceLink.h"
#include "platform/ErrorBox.h"
#include "platform/Errors.h"
#include "ui/Confirm.h"
#include "ui/StatusBar.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QTextCursor>

PuntoRegistro& TfPrincipal::punto() {
    if (!m_punto)
        m_punto = std::make_unique<PuntoRegistro>(PointSetup{
            FtpClient1, TcpSock1, *this, m_localAlias, m_serverAlias,
            [this] { return m_settings.values().FTPtimeOut; },
            [this] { return m_settings.values(); }, [this] { m_settings.forgetKeyRun(); }});
    return *m_punto;
}

void TfPrincipal::comprobarRegistroDescargas() {
    try {
        punto().ensureJournals();
    } catch (const std::exception& error) {
        // Storing stays safe (a run that cannot journal is rolled back and
        // kept for recovery), but it cannot finish until this is put right.
        const QString text = QStringLiteral("ERROR: ") + QString::fromUtf8(error.what());
        statusText(text);
        try {
            logRow(text);
        } catch (const std::exception&) {
        }
    }
}

// The operator gives up a run whose local copies are gone for good (a share
// that will not come back): nothing is fetched while it waits.
void TfPrincipal::AbandonarDescarga1Click() {
    if (!m_monitor && cycles().running()) {
        statusText(QStringLiteral("No se puede abandonar una descarga mientras corre un ciclo."));
        return;
    }
    const std::optional<UnfinishedRun> run =
        m_monitor ? unfinishedRunOfService() : punto().unfinishedRun();
    if (!run) {
        statusText(QStringLiteral("No hay ninguna descarga sin terminar."));
        return;
    }
    if (!confirm(abandonQuestion(*run), this))
        return;
    if (!m_monitor) {
        statusText(punto().abandonRun(run->runId));
        return;
    }
    QByteArray reply;
    if (!ServiceLink::ask("abandonar " + run->runId.toUtf8(), reply))
        statusText(QStringLiteral("ERROR: no hay ningún servicio de la estación en marcha."));
    else
        statusText(QString::fromUtf8(reply.startsWith("ok") ? reply.mid(3) : reply));
}

std::optional<UnfinishedRun> TfPrincipal::unfinishedRunOfService() {
    QByteArray reply;
    if (!ServiceLink::ask("pendiente", reply) || reply.startsWith("error"))
        throw Exception(QStringLiteral("El servicio no dice qué descarga está sin terminar: %1")
                            .arg(QString::fromUtf8(reply)));
    const QJsonObject o = QJsonDocument::fromJson(reply).object();
    if (o.isEmpty())
        return std::nullopt;
    return UnfinishedRun{o.value(QStringLiteral("descarga")).toString(),
                         o.value(QStringLiteral("loc")).toString(),
                         o.value(QStringLiteral("tickets")).toInt(-1)};
}

void TfPrincipal::memoAppend(const QString& text) {
    // Appended as it stands: the texts carry their own CR LF.
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor = mStatus->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(plain);
    mStatus->setTextCursor(cursor);
}

void TfPrincipal::memoClear() {
    mStatus->clear();
}

void TfPrincipal::statusText(const QString& text) {
    StatusBar1->setSimpleText(text);
}

void TfPrincipal::logRow(const QString& archivo, std::optional<int> nroRegAsist) {
    appendLogRow(tLog, archivo, nroRegAsist);
}

void TfPrincipal::showError(const std::exception& error) {
    showException(error);
}
