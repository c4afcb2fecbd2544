#include "service/MailSend.h"

#include "platform/LibraryFunction.h"

#include <QLocale>
#include <QRegularExpression>
#include <QUuid>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <netdb.h>
#include <unistd.h>

namespace {

struct Payload {
    QByteArray bytes;
    qsizetype sent = 0;
};

size_t readPayload(char* buffer, size_t size, size_t count, void* user) {
    auto* payload = static_cast<Payload*>(user);
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype n = std::min(room, payload->bytes.size() - payload->sent);
    std::memcpy(buffer, payload->bytes.constData() + payload->sent, static_cast<size_t>(n));
    payload->sent += n;
    return static_cast<size_t>(n);
}

QString oneLine(QString text) {
    return text.replace(QRegularExpression(QStringLiteral("[\\r\\n]+")), QStringLiteral(" "));
}

QByteArray headerText(const QString& text) {
    const QString line = oneLine(text);
    bool ascii = true;
    for (const QChar c : line)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    if (ascii)
        return line.toLatin1();
    return "=?UTF-8?B?" + line.toUtf8().toBase64() + "?=";
}

// The parts of libcurl an e-mail needs. The library is loaded at the first
// e-mail rather than linked: it brings some twenty libraries (TLS, Kerberos,
// LDAP, SSH) that every start of the service would otherwise load, and a
// station without an e-mail relay never uses.
struct Curl {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) setopt = nullptr;
    decltype(&curl_easy_perform) perform = nullptr;
    decltype(&curl_easy_cleanup) cleanup = nullptr;
    decltype(&curl_easy_strerror) errorText = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;
    bool ready = false;
};

Curl loadCurl() {
    Curl c;
    QLibrary library(QStringLiteral("curl"), 4);
    if (!library.load())
        return c;
    c.ready = resolveFunction(library, "curl_global_init", c.globalInit) &&
              resolveFunction(library, "curl_easy_init", c.easyInit) &&
              resolveFunction(library, "curl_easy_setopt", c.setopt) &&
              resolveFunction(library, "curl_easy_perform", c.perform) &&
              resolveFunction(library, "curl_easy_cleanup", c.cleanup) &&
              resolveFunction(library, "curl_easy_strerror", c.errorText) &&
              resolveFunction(library, "curl_slist_append", c.slistAppend) &&
              resolveFunction(library, "curl_slist_free_all", c.slistFreeAll);
    // Set up once for the whole process, before any thread uses it.
    c.ready = c.ready && c.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return c;
}

const Curl& curlLibrary() {
    static const Curl curl = loadCurl();
    return curl;
}

// STARTTLS whenever the relay offers it; required when the settings say so,
// and whenever the login would otherwise cross the network in clear.
long tlsMode(const MailRelay& relay) {
    const bool loginNeedsTls = !relay.user.isEmpty() && !relay.loginWithoutTls;
    return relay.startTls || loginNeedsTls ? CURLUSESSL_ALL : CURLUSESSL_TRY;
}

// What a person reads when the relay offers no STARTTLS and it was required.
QString noTlsText(const MailRelay& relay) {
    if (relay.startTls)
        return QStringLiteral("el servidor de correo no ofrece STARTTLS, que SmtpStartTLS exige");
    return QStringLiteral("el servidor de correo no ofrece STARTTLS y la clave no se envía sin "
                          "cifrar (SmtpClaveSinTLS=1 lo permitiría)");
}

// The relay in a URL: an IPv6 address goes in brackets. The path is the name
// the station greets with (EHLO).
QByteArray relayUrl(const MailRelay& relay) {
    const QString host = relay.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + relay.host + QLatin1Char(']')
                             : relay.host;
    return QStringLiteral("smtp://%1:%2/%3").arg(host).arg(relay.port).arg(fullHostName()).toUtf8();
}

} // namespace

// As `hostname --fqdn` finds it: the resolver's canonical name for the host
// name. A name outside the letters, digits, dots and hyphens a domain may
// hold is no name to greet with.
QString fullHostName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return QStringLiteral("localhost");
    QString name = QString::fromLatin1(host);
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) == 0) {
        if (found && found->ai_canonname && *found->ai_canonname)
            name = QString::fromLatin1(found->ai_canonname);
        freeaddrinfo(found);
    }
    static const QRegularExpression domain(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
    return domain.match(name).hasMatch() ? name : QStringLiteral("localhost");
}

bool plainAddress(const QString& address) {
    static const QRegularExpression shape(
        QStringLiteral("^[A-Za-z0-9.!#$%&'*+/=?^_`{|}~-]+@[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)*$"));
    return address.size() <= 254 && shape.match(address).hasMatch();
}

// "Wed, 09 Dec 2026 18:05:00 -0300": mail wants the zone as a numeric
// offset, never the abbreviation ("CET", "-03") the locale gives.
QByteArray mailDate(const QDateTime& when) {
    const int offset = when.offsetFromUtc() / 60;
    const int magnitude = std::abs(offset);
    return QLocale::c().toString(when, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")).toLatin1() +
           (offset < 0 ? '-' : '+') + QByteArray::number(magnitude / 60).rightJustified(2, '0') +
           QByteArray::number(magnitude % 60).rightJustified(2, '0');
}

QByteArray mailMessage(const MailRelay& relay, const QStringList& to, const QString& subject,
                       const QString& body, const QDateTime& when) {
    QByteArray m;
    m += "Date: " + mailDate(when) + "\r\n";
    m += "From: <" + relay.from.toLatin1() + ">\r\n";
    m += "To: " + to.join(QStringLiteral(", ")).toLatin1() + "\r\n";
    m += "Subject: " + headerText(subject) + "\r\n";
    m += "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + '@' +
         fullHostName().toLatin1() + ">\r\n";
    m += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
         "Content-Transfer-Encoding: 8bit\r\n\r\n";
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (const QString& line : text.split(QLatin1Char('\n')))
        // A line of a lone dot would end the message early.
        m += (line.startsWith(QLatin1Char('.')) ? "." : "") + line.toUtf8() + "\r\n";
    return m;
}

MailOutcome sendMail(const MailRelay& relay, const QString& subject, const QString& body,
                     const QDateTime& when) {
    MailOutcome outcome;
    QStringList to;
    for (const QString& address : relay.to)
        (plainAddress(address) ? to : outcome.refused) << address;
    if (!plainAddress(relay.from))
        outcome.error =
            QStringLiteral("el remitente '%1' no es una dirección válida").arg(relay.from);
    else if (to.isEmpty())
        outcome.error = QStringLiteral("no hay ningún destinatario válido");
    if (!outcome.error.isEmpty())
        return outcome;
    const Curl& lib = curlLibrary();
    if (!lib.ready) {
        outcome.error = QStringLiteral("no se puede cargar libcurl");
        return outcome;
    }
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(lib.easyInit(), lib.cleanup);
    if (!curl) {
        outcome.error = QStringLiteral("no se puede iniciar libcurl");
        return outcome;
    }
    curl_slist* rcpt = nullptr;
    for (const QString& address : to)
        rcpt = lib.slistAppend(rcpt, ("<" + address.toLatin1() + ">").constData());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> rcptGuard(rcpt, lib.slistFreeAll);
    Payload payload{mailMessage(relay, to, subject, body, when)};
    const QByteArray url = relayUrl(relay);
    const QByteArray caFile = relay.caFile.toLocal8Bit();
    const QByteArray from = "<" + relay.from.toLatin1() + ">";
    const QByteArray user = relay.user.toUtf8(), password = relay.password.toUtf8();
    CURL* c = curl.get();
    lib.setopt(c, CURLOPT_URL, url.constData());
    lib.setopt(c, CURLOPT_MAIL_FROM, from.constData());
    lib.setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    lib.setopt(c, CURLOPT_READFUNCTION, readPayload);
    lib.setopt(c, CURLOPT_READDATA, &payload);
    lib.setopt(c, CURLOPT_UPLOAD, 1L);
    lib.setopt(c, CURLOPT_NOSIGNAL, 1L);
    lib.setopt(c, CURLOPT_TIMEOUT, static_cast<long>(relay.timeOutSeconds));
    lib.setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(relay.timeOutSeconds));
    lib.setopt(c, CURLOPT_USE_SSL, tlsMode(relay));
    if (!caFile.isEmpty())
        lib.setopt(c, CURLOPT_CAINFO, caFile.constData());
    if (!relay.user.isEmpty()) {
        lib.setopt(c, CURLOPT_USERNAME, user.constData());
        lib.setopt(c, CURLOPT_PASSWORD, password.constData());
    }
    char detail[CURL_ERROR_SIZE] = {};
    lib.setopt(c, CURLOPT_ERRORBUFFER, detail);
    const CURLcode result = lib.perform(c);
    outcome.sent = result == CURLE_OK;
    if (result == CURLE_USE_SSL_FAILED)
        outcome.error = noTlsText(relay);
    else if (!outcome.sent)
        outcome.error = QString::fromUtf8(*detail ? detail : lib.errorText(result));
    return outcome;
}
