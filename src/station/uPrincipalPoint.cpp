// One registration point's work: thin methods into the core, and the report
// channels (mStatus, StatusBar1, tLog) the core writes to.
#include "station/uPrincipal.h"

#include "collect/LogTable.h"
#include "platform/ErrorBox.h"
#include "ui/SpinEdit.h"
#include "ui/StatusBar.h"

#include <QPlainTextEdit>
#include <QTextCursor>

PuntoRegistro& TfPrincipal::punto() {
    if (!m_punto)
        m_punto = std::make_unique<PuntoRegistro>(
            PointSetup{FtpClient1, TcpSock1, *this, localAlias, serverAlias,
                       [this] { return seFTPtimeOut->Value(); },
                       [this] { return currentSettings(); }, [this] { clearKeyRecovery(); }});
    return *m_punto;
}

PointWork& TfPrincipal::pointWork() {
    return punto();
}

void TfPrincipal::Descargar(const QString& IP, const QString& Desc, const QString& Loc,
                            CycleOutput& output) {
    punto().Descargar(IP, Desc, Loc, output);
}

void TfPrincipal::sincronizarPar(const QString& IP, const QString& Desc, const QString& Loc) {
    punto().sincronizarPar(IP, Desc, Loc);
}

void TfPrincipal::FtpClient1Status(TTcpSock* Sender, const QString& Status) {
    punto().FtpClient1Status(Sender, Status);
}

void TfPrincipal::FtpClient1PacketRecvd(TTcpSock* Sender) {
    punto().FtpClient1PacketRecvd(Sender);
}

void TfPrincipal::FtpClient1Failure(bool& Handled, TCmdType Trans_Type) {
    punto().FtpClient1Failure(Handled, Trans_Type);
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
