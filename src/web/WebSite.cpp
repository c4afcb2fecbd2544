#include "web/WebSite.h"

#include "platform/Clock.h"
#include "platform/Regional.h"
#include "web/HttpServer.h"
#include "web/WebAccounts.h"
#include "web/WebData.h"
#include "web/WebHtml.h"
#include "web/WebPages.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrlQuery>

namespace {

constexpr int kInfo = 6, kWarning = 4, kError = 3;

// Every answer's: only the site's own scripts and styles, no framing, no
// guessing of types, nothing kept by caches or sent on as a referrer.
const QList<std::pair<QByteArray, QByteArray>> kSecurityHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
     "img-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"}};

// A request the page cannot answer, with the reason in the page.
struct BadRequest {
    QString reason;
};

HttpResponse html(int status, const QByteArray& body) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = body;
    return response;
}

HttpResponse file(const QByteArray& type, const QByteArray& body) {
    HttpResponse response;
    response.contentType = type;
    response.body = body;
    return response;
}

QDate dateArgument(const HttpRequest& request, const char* name, const QString& label) {
    const QByteArray text = request.query.value(name);
    if (text.isEmpty())
        return currentDateTime().date();
    static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QDate date = QDate::fromString(QString::fromUtf8(text), Qt::ISODate);
    if (!iso.match(QString::fromUtf8(text)).hasMatch() || !date.isValid())
        throw BadRequest{QStringLiteral("La fecha \"%1\" (%2) no es una fecha.")
                             .arg(label, QString::fromUtf8(text))};
    return date;
}

// "desde" and "hasta", today when absent; a reversed range is refused.
std::pair<QDate, QDate> rangeArguments(const HttpRequest& request) {
    const QDate from = dateArgument(request, "desde", QStringLiteral("Desde"));
    const QDate to = dateArgument(request, "hasta", QStringLiteral("Hasta"));
    if (to < from)
        throw BadRequest{QStringLiteral("La fecha \"Hasta\" (%1) es anterior a la fecha "
                                        "\"Desde\" (%2).")
                             .arg(DateToStr(toDateTime(to)), DateToStr(toDateTime(from)))};
    return {from, to};
}

std::optional<qint64> numberArgument(const HttpRequest& request, const char* name,
                                     const QString& label, qint64 max) {
    const QString text = QString::fromUtf8(request.query.value(name)).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0 || value > max || text.contains(QLatin1Char('+')))
        throw BadRequest{QStringLiteral("%1 (%2) no es un número.").arg(label, text)};
    return value;
}

int pageArgument(const HttpRequest& request) {
    return int(numberArgument(request, "pagina", QStringLiteral("La página"), 1000000).value_or(1));
}

const QByteArray kSessionCookie = "kivo_sesion";
const QByteArray kLoginCookie = "kivo_entrada";

HttpResponse redirect(const QByteArray& to) {
    HttpResponse response;
    response.status = 303;
    response.headers.append({"Location", to});
    return response;
}

// A form's fields from its url-encoded body.
QMap<QString, QString> formFields(const QByteArray& body) {
    QByteArray spaced = body;
    spaced.replace('+', ' ');
    QMap<QString, QString> fields;
    for (const auto& [name, value] :
         QUrlQuery(QString::fromUtf8(spaced)).queryItems(QUrl::FullyDecoded))
        fields.insert(name, value);
    return fields;
}

QString rangeName(const QDate& from, const QDate& to) {
    return QStringLiteral("resumen-%1-%2")
        .arg(from.toString(QStringLiteral("yyyyMMdd")), to.toString(QStringLiteral("yyyyMMdd")));
}

} // namespace

// What the handlers share; the server's threads read it, nothing writes it
// while they run.
struct WebSite::Site {
    using Session = WebSessions::Session;
    using Handler = HttpResponse (Site::*)(const HttpRequest&, const Session&) const;

    const WebBoard& board;
    QString localAlias, serverAlias;
    WebSite::Journal journal;
    QString accountsPath;
    bool secure = false;
    std::unique_ptr<WebSessions> sessions;

    // The answer of a handler for those with a session; the others go to
    // the login.
    HttpResponse gated(const HttpRequest& request, Handler handler) const {
        const std::optional<Session> session =
            sessions->find(request.cookies.value(kSessionCookie));
        if (!session)
            return redirect("/entrar");
        return (this->*handler)(request, *session);
    }

    QByteArray cookie(const QByteArray& name, const QByteArray& value, bool expired = false) const {
        return name + '=' + value + "; Path=/; HttpOnly; SameSite=Strict" +
               (secure ? "; Secure" : "") + (expired ? "; Max-Age=0" : "");
    }

    HttpResponse loginPage(int status, const QString& message) const {
        const QByteArray token = sessions->loginToken();
        const QString form =
            QStringLiteral("<form class=\"entrada\" method=\"post\" action=\"/entrar\">"
                           "<input type=\"hidden\" name=\"csrf\" value=\"%1\">"
                           "<label>Usuario<input name=\"usuario\" autocomplete=\"username\" "
                           "required autofocus></label>"
                           "<label>Contraseña<input type=\"password\" name=\"clave\" "
                           "autocomplete=\"current-password\" required></label>"
                           "<button type=\"submit\">Entrar</button></form>")
                .arg(QString::fromLatin1(token));
        HttpResponse response =
            html(status, htmlPage({QStringLiteral("Entrar"), {}, {}, false, false},
                                  (message.isEmpty() ? QString() : notice(message, true)) + form));
        response.headers.append({"Set-Cookie", cookie(kLoginCookie, token)});
        return response;
    }

    HttpResponse login(const HttpRequest&) const { return loginPage(200, {}); }

    // A login: the form's token must be the one its cookie carries and one
    // given; an address that failed waits, more after each failure.
    HttpResponse loginPost(const HttpRequest& request) const {
        const QMap<QString, QString> fields = formFields(request.body);
        const QByteArray token = fields.value(QStringLiteral("csrf")).toLatin1();
        if (token.isEmpty() || token != request.cookies.value(kLoginCookie) ||
            !sessions->takeLoginToken(token))
            return loginPage(403, QStringLiteral("El formulario venció o no es de esta página: "
                                                 "vuelva a intentarlo."));
        if (const int wait = sessions->waitFor(request.client))
            return loginPage(
                429, QStringLiteral("Demasiados intentos fallidos: espere %1 s.").arg(wait));
        const QString user = fields.value(QStringLiteral("usuario")).trimmed();
        QString problem;
        const bool ok = validAccountName(user) &&
                        checkAccount(accountsPath, user,
                                     fields.value(QStringLiteral("clave")).toUtf8(), problem);
        const QString from = request.client.toString();
        if (!problem.isEmpty())
            journal(kError, QStringLiteral("Página web: ") + problem);
        if (!ok) {
            sessions->failed(request.client);
            journal(kWarning, QStringLiteral("Página web: entrada rechazada de '%1' desde %2")
                                  .arg(user.left(64), from));
            return loginPage(401, QStringLiteral("Usuario o contraseña incorrectos."));
        }
        sessions->succeeded(request.client);
        journal(kInfo, QStringLiteral("Página web: entrada de %1 desde %2").arg(user, from));
        HttpResponse response = redirect("/");
        response.headers.append({"Set-Cookie", cookie(kSessionCookie, sessions->open(user))});
        response.headers.append({"Set-Cookie", cookie(kLoginCookie, {}, true)});
        return response;
    }

    HttpResponse logout(const HttpRequest& request, const Session& session) const {
        if (formFields(request.body).value(QStringLiteral("csrf")).toLatin1() != session.csrf)
            return html(403,
                        htmlPage({QStringLiteral("Salir"), {}, QString::fromLatin1(session.csrf)},
                                 notice(QStringLiteral("Token CSRF no válido."), true)));
        sessions->close(request.cookies.value(kSessionCookie));
        journal(kInfo, QStringLiteral("Página web: salida de %1").arg(session.user));
        HttpResponse response = redirect("/entrar");
        response.headers.append({"Set-Cookie", cookie(kSessionCookie, {}, true)});
        return response;
    }

    HttpResponse page(const Session& session, const QString& title, const QString& path,
                      const QString& content, bool script = false) const {
        return html(200,
                    htmlPage({title, path, QString::fromLatin1(session.csrf), script}, content));
    }

    // A handler's answer; the reason of a bad request, or what the store
    // raised, in a page of its own.
    HttpResponse guarded(const Session& session, const QString& title, const QString& path,
                         const std::function<HttpResponse()>& answer) const {
        const QString csrf = QString::fromLatin1(session.csrf);
        try {
            return answer();
        } catch (const BadRequest& bad) {
            return html(400, htmlPage({title, path, csrf}, notice(bad.reason, true)));
        } catch (const std::exception& error) {
            journal(
                kError,
                QStringLiteral("Página web, %1: %2").arg(path, QString::fromUtf8(error.what())));
            return html(
                500, htmlPage({title, path, csrf}, notice(QString::fromUtf8(error.what()), true)));
        }
    }

    HttpResponse points(const HttpRequest&, const Session& session) const {
        return page(session, QStringLiteral("Estado de los puntos"), QStringLiteral("/"),
                    pointsContent(board.state()), true);
    }

    HttpResponse pointsJson(const HttpRequest&, const Session&) const {
        HttpResponse response;
        response.contentType = "application/json";
        response.body = QJsonDocument(pointsUpdate(board.state())).toJson(QJsonDocument::Compact);
        return response;
    }

    HttpResponse tickets(const HttpRequest& request, const Session& session) const {
        const QString title = QStringLiteral("Registros de taxi");
        return guarded(session, title, QStringLiteral("/registros"), [&] {
            const auto [from, to] = rangeArguments(request);
            TicketFilter filter{
                from, to,
                numberArgument(request, "legajo", QStringLiteral("El legajo"),
                               Q_INT64_C(999999999999)),
                numberArgument(request, "ceco", QStringLiteral("El CECO"), Q_INT64_C(999999999999)),
                pageArgument(request)};
            const RangeForm form{QStringLiteral("/registros"),
                                 from,
                                 to,
                                 filter.legajo ? QString::number(*filter.legajo) : QString(),
                                 filter.ceco ? QString::number(*filter.ceco) : QString(),
                                 true};
            return page(session, title, form.path,
                        ticketsContent(form, readTickets(serverAlias, filter)));
        });
    }

    HttpResponse summary(const HttpRequest& request, const Session& session) const {
        const QString title = QStringLiteral("Resumen por centro de costo");
        return guarded(session, title, QStringLiteral("/resumen"), [&] {
            const auto [from, to] = rangeArguments(request);
            const RangeForm form{QStringLiteral("/resumen"), from, to, {}, {}};
            return page(session, title, form.path,
                        summaryContent(form, readSummary(serverAlias, from, to)));
        });
    }

    HttpResponse download(const HttpRequest& request, const Session& session, SummaryFile kind,
                          const QByteArray& type, const QString& suffix) const {
        return guarded(session, QStringLiteral("Resumen por centro de costo"),
                       QStringLiteral("/resumen"), [&] {
                           const auto [from, to] = rangeArguments(request);
                           HttpResponse response =
                               file(type, summaryFile(kind, serverAlias, from, to));
                           response.headers.append({"Content-Disposition",
                                                    QStringLiteral("attachment; filename=\"%1.%2\"")
                                                        .arg(rangeName(from, to), suffix)
                                                        .toLatin1()});
                           return response;
                       });
    }

    HttpResponse pdf(const HttpRequest& request, const Session& session) const {
        return download(request, session, SummaryFile::Pdf, "application/pdf",
                        QStringLiteral("pdf"));
    }

    HttpResponse workbook(const HttpRequest& request, const Session& session) const {
        return download(request, session, SummaryFile::Workbook,
                        "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                        QStringLiteral("xlsx"));
    }

    HttpResponse separatedValues(const HttpRequest& request, const Session& session) const {
        return download(request, session, SummaryFile::SeparatedValues,
                        "text/csv; charset=windows-1252", QStringLiteral("csv"));
    }

    HttpResponse log(const HttpRequest& request, const Session& session) const {
        const QString title = QStringLiteral("Registro de operaciones");
        return guarded(session, title, QStringLiteral("/operaciones"), [&] {
            return page(session, title, QStringLiteral("/operaciones"),
                        logContent(readLog(localAlias, pageArgument(request))));
        });
    }
};

WebSite::WebSite(StationControl& station, WebBoard::Source points, Journal journal)
    : m_station(station), m_points(std::move(points)), m_journal(std::move(journal)) {}

WebSite::~WebSite() {
    stop();
}

void WebSite::apply(const QString& localAlias, const QString& serverAlias) {
    QStringList problems;
    const WebSettings settings = loadWebSettings(serverAlias, problems);
    for (const QString& problem : problems)
        m_journal(kError,
                  QStringLiteral("Configuración de la página web: %1; no se publica").arg(problem));
    listen(settings, localAlias, serverAlias);
}

void WebSite::listen(const WebSettings& wanted, const QString& localAlias,
                     const QString& serverAlias) {
    const QString aliases = localAlias + QLatin1Char('\n') + serverAlias;
    if (wanted == m_settings && aliases == m_aliases && (m_server || !wanted.on()))
        return;
    const bool wasOn = m_server != nullptr;
    stop();
    m_settings = wanted;
    m_aliases = aliases;
    if (!wanted.on()) {
        if (wasOn)
            m_journal(kInfo, QStringLiteral("Página web apagada"));
        return;
    }
    QString note;
    const WebSettings settings = confinedToLoopback(wanted, note);
    if (!note.isEmpty())
        m_journal(kWarning, QStringLiteral("Página web: ") + note);
    HttpServerOptions options;
    options.connections = kConnections;
    options.perAddress = kPerAddress;
    if (settings.tls()) {
        QFile certificate(settings.certificatePath), key(settings.keyPath);
        if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            m_journal(kError, QStringLiteral("Página web: no se puede leer %1 o %2; no se publica")
                                  .arg(settings.certificatePath, settings.keyPath));
            return;
        }
        // The library reads them as C strings.
        options.certificate = certificate.readAll() + '\0';
        options.key = key.readAll() + '\0';
    }
    m_board = std::make_unique<WebBoard>(m_station, m_points);
    m_site = std::make_unique<Site>(Site{*m_board, localAlias, serverAlias, m_journal,
                                         settings.accountsPath, settings.tls(),
                                         std::make_unique<WebSessions>(settings.idleMinutes)});
    m_server = std::make_unique<HttpServer>();
    for (const auto& [name, value] : kSecurityHeaders)
        m_server->addHeaderToAll(name, value);
    if (settings.tls())
        m_server->addHeaderToAll("Strict-Transport-Security", "max-age=31536000");
    const Site* site = m_site.get();
    const auto route = [&](const char* method, const char* path, Site::Handler handler) {
        m_server->route(method, path,
                        [site, handler](const HttpRequest& r) { return site->gated(r, handler); });
    };
    route("GET", "/", &Site::points);
    route("GET", "/estado.json", &Site::pointsJson);
    route("GET", "/registros", &Site::tickets);
    route("GET", "/resumen", &Site::summary);
    route("GET", "/operaciones", &Site::log);
    route("GET", "/resumen.pdf", &Site::pdf);
    route("GET", "/resumen.xlsx", &Site::workbook);
    route("GET", "/resumen.csv", &Site::separatedValues);
    route("POST", "/salir", &Site::logout);
    m_server->route("GET", "/entrar", [site](const HttpRequest& r) { return site->login(r); });
    m_server->route("POST", "/entrar", [site](const HttpRequest& r) { return site->loginPost(r); });
    m_server->route("GET", "/estilo.css", [](const HttpRequest&) {
        return file("text/css; charset=utf-8", styleSheet());
    });
    m_server->route("GET", "/estado.js", [](const HttpRequest&) {
        return file("text/javascript; charset=utf-8", pointsScript());
    });
    QString why;
    if (!m_server->start(settings.listen.address, settings.listen.port, options, why)) {
        m_journal(kError, QStringLiteral("No se puede publicar la página web en %1: %2")
                              .arg(settings.listen.text(), why));
        stop();
        return;
    }
    m_journal(kInfo, QStringLiteral("Página web en %1://%2/")
                         .arg(settings.tls() ? QStringLiteral("https") : QStringLiteral("http"),
                              settings.listen.text()));
}

quint16 WebSite::port() const {
    return m_server ? m_server->port() : 0;
}

// The server's threads read the site and the board: they stop first.
void WebSite::stop() {
    m_server.reset();
    m_site.reset();
    m_board.reset();
}
