// Pushing the personnel and cost-centre lists to one point.
#include "collect/ParamPush.h"

#include "net/NetPorts.h"
#include "platform/TextCodec.h"

ParamPush::ParamPush(PointRun& run) : m_run(run), m(run.setup()) {
    for (TQuery* q : {&qPersonal, &qCeco})
        q->DatabaseName = m.localAlias;
}

void ParamPush::push(const QString& IP, const QString& Desc, const QString& Loc) {
    m.report.memoAppend(QStringLiteral("    - Sinc ") + Desc + QStringLiteral("..."));
    m_pushOk = false;
    QList<PersonEntry> people;
    QList<CecoEntry> cecos;
    if (!readLists(people, cecos))
        return;
    // The message carries its CRC-16, computed as it is made.
    const QByteArray message = parameterMessage(people, cecos);
    qPersonal.Close();
    qCeco.Close();
    const bool ok = send(IP, message);
    m_pushOk = ok;
    m.report.memoAppend(ok ? QStringLiteral(" OK.\r\n") : QStringLiteral(" FALLO\r\n"));
    PointOutcome& outcome = m_run.outcome();
    if (!ok && outcome.ok) {
        outcome.ok = false;
        outcome.failure = QStringLiteral("no se pudieron enviar las listas de parámetros");
    }
    m.report.logRow(Loc + (ok ? QStringLiteral(": Sinc. OK") : QStringLiteral(": Sinc. FALLO")));
}

// Reads both lists; false (reported) when a table cannot be read or a list
// is too long.
bool ParamPush::readLists(QList<PersonEntry>& people, QList<CecoEntry>& cecos) {
    auto fail = [this](const QString& status) {
        m.report.memoAppend(QStringLiteral(" FALLO\r\n"));
        m.report.statusText(status);
        return false;
    };
    try {
        qPersonal.Close();
        qPersonal.SQL = {QStringLiteral("select * from personal.dbf"),
                         QStringLiteral("where SERV_TAXI = TRUE;")};
        qPersonal.Open();
        qCeco.Close();
        qCeco.SQL = {QStringLiteral("select * from ceco.dbf;")};
        qCeco.Open();
        m_run.tables().tLog.Open();
        m_run.tables().tLog.Close();
        if (qPersonal.RecordCount() > kMaxPersonal)
            return fail(QStringLiteral(
                "ERROR: el tamaño de la tabla Personal excede el máximo permitido."));
        if (qCeco.RecordCount() > kMaxCeco)
            return fail(
                QStringLiteral("ERROR: el tamaño de la tabla CeCo excede el máximo permitido."));
        for (qPersonal.First(); !qPersonal.Eof(); qPersonal.Next())
            if (const std::optional<PersonEntry> p = personOfRow())
                people << *p;
        for (qCeco.First(); !qCeco.Eof(); qCeco.Next())
            cecos << CecoEntry{qCeco.FieldByName(QStringLiteral("CECO")).AsInteger(),
                               qCeco.FieldByName(QStringLiteral("OVERTIME")).AsInteger(),
                               qCeco.FieldByName(QStringLiteral("VIAJES")).AsInteger()};
        return true;
    } catch (const EDatabaseError&) {
        return fail(kNoAccess);
    }
}

// The current personnel row as the message carries it. A row whose numbers
// are not numbers is left out and named in the log, so that one bad row does
// not keep the list from every point.
std::optional<PersonEntry> ParamPush::personOfRow() {
    try {
        PersonEntry p;
        p.tarjeta = qPersonal.FieldByName(QStringLiteral("TARJETA")).AsInteger();
        p.name = toCp1252(qPersonal.FieldByName(QStringLiteral("NOMBRES")).AsString() +
                          QLatin1Char(' ') +
                          qPersonal.FieldByName(QStringLiteral("APELLIDOS")).AsString());
        p.grupo = qPersonal.FieldByName(QStringLiteral("GRUPO")).AsInteger();
        p.codigo = qPersonal.FieldByName(QStringLiteral("CODIGO")).AsInteger();
        return p;
    } catch (const Exception& error) {
        m.report.logRow(
            QStringLiteral("AVISO: Personal CODIGO %1 no se envía: %2")
                .arg(qPersonal.FieldByName(QStringLiteral("CODIGO")).AsString(), error.message()));
        return std::nullopt;
    }
}

// Connect, send in one operation, disconnect; the point's answer is not read.
bool ParamPush::send(const QString& IP, const QByteArray& message) {
    TTcpSock& sock = m.sock;
    sock.Host = IP;
    sock.Port = paramPort();
    bool ok = true;
    try {
        sock.Connect();
    } catch (const std::exception&) {
        ok = false;
    }
    if (ok) {
        try {
            sock.SendBuffer(message, static_cast<quint16>(message.size()));
        } catch (const std::exception&) {
            ok = false;
        }
    }
    try {
        sock.Disconnect();
    } catch (const std::exception&) {
    }
    return ok;
}
