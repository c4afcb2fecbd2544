// One registration point's work: thin methods into the core, and the report
// channels (mStatus, StatusBar1, tLog) the core writes to.
#include "station/uPrincipal.h"

#include "collect/LogTable.h"
#include "platform/ErrorBox.h"
#include "ui/StatusBar.h"

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
