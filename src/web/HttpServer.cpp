#include "web/HttpServer.h"

#include "web/MicroHttpd.h"

#include <arpa/inet.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Threads that answer, and seconds a silent connection is kept.
constexpr unsigned kThreads = 2;
constexpr unsigned kIdleSeconds = 10;
// The answering threads yield to the event loop's when the processors are busy.
constexpr int kNiceness = 10;

// Decodes %HH in place, as the library would, except %00: a NUL would end
// the path the library hands on, so that "/a%00.b" were answered as "/a".
size_t unescape(void*, MHD_Connection*, char* text) {
    const auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    char* out = text;
    for (const char* in = text; *in; ++out) {
        const int high = in[0] == '%' ? hex(in[1]) : -1;
        const int low = high >= 0 ? hex(in[2]) : -1;
        if (low >= 0 && (high | low) != 0) {
            *out = char(high * 16 + low);
            in += 3;
        } else {
            *out = *in++;
        }
    }
    *out = '\0';
    return size_t(out - text);
}

QHostAddress clientOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        microHttpd().connectionInfo(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    QHostAddress address;
    if (info && info->client_addr)
        address.setAddress(info->client_addr);
    return address;
}

// A request's body as it arrives.
struct Pending {
    QByteArray body;
    bool tooLarge = false;
};

MHD_Result header(void* into, MHD_ValueKind, const char* key, const char* value) {
    static_cast<QMap<QByteArray, QByteArray>*>(into)->insert(QByteArray(key).toLower(),
                                                             QByteArray(value ? value : ""));
    return MHD_YES;
}

MHD_Result argument(void* into, MHD_ValueKind, const char* key, const char* value) {
    static_cast<QMap<QByteArray, QByteArray>*>(into)->insert(QByteArray(key),
                                                             QByteArray(value ? value : ""));
    return MHD_YES;
}

HttpResponse plain(int status, const char* text) {
    HttpResponse response;
    response.status = status;
    response.body = QByteArray(text) + '\n';
    return response;
}

MHD_Result send(MHD_Connection* connection, const HttpResponse& answer) {
    const MicroHttpd& mhd = microHttpd();
    MHD_Response* response =
        mhd.responseFromBuffer(size_t(answer.body.size()),
                               const_cast<char*>(answer.body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    mhd.addResponseHeader(response, "Content-Type", answer.contentType.constData());
    for (const auto& [name, value] : answer.headers)
        mhd.addResponseHeader(response, name.constData(), value.constData());
    const MHD_Result queued = mhd.queueResponse(connection, unsigned(answer.status), response);
    mhd.destroyResponse(response);
    return queued;
}

} // namespace

// The daemon and the last message it logged (why it could not start, say).
struct HttpServer::Daemon {
    MHD_Daemon* handle = nullptr;
    std::mutex mutex;
    QString lastMessage;
    HttpServerOptions options;
    const HttpServer* server = nullptr;

    static void log(void* self, const char* format, va_list args) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        auto* daemon = static_cast<Daemon*>(self);
        const std::lock_guard lock(daemon->mutex);
        daemon->lastMessage = QString::fromLocal8Bit(text).trimmed();
    }

    // Called with the headers, then with each piece of the body, then once
    // more with none: the request is whole.
    static MHD_Result request(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char*, const char* upload,
                              size_t* uploadSize, void** state) {
        static thread_local const bool niced =
            setpriority(PRIO_PROCESS, id_t(gettid()), kNiceness) == 0;
        Q_UNUSED(niced);
        if (!*state) {
            *state = new Pending;
            return MHD_YES;
        }
        auto* pending = static_cast<Pending*>(*state);
        if (*uploadSize) {
            if (pending->body.size() + qsizetype(*uploadSize) > kMaxBody)
                pending->tooLarge = true;
            else
                pending->body.append(upload, qsizetype(*uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        if (pending->tooLarge)
            return send(connection, plain(413, "demasiado grande"));
        const auto* daemon = static_cast<const Daemon*>(self);
        HttpRequest whole;
        whole.method = method;
        whole.path = url;
        whole.body = std::move(pending->body);
        const MicroHttpd& mhd = microHttpd();
        mhd.connectionValues(connection, MHD_HEADER_KIND, &header, &whole.headers);
        mhd.connectionValues(connection, MHD_GET_ARGUMENT_KIND, &argument, &whole.query);
        mhd.connectionValues(connection, MHD_COOKIE_KIND, &argument, &whole.cookies);
        whole.client = clientOf(connection);
        whole.secure = daemon->options.tls();
        return send(connection, daemon->server->answer(whole));
    }

    static void completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
        delete static_cast<Pending*>(*state);
        *state = nullptr;
    }
};

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::route(const QByteArray& method, const QByteArray& path, HttpHandler handler) {
    m_routes[path][method] = std::move(handler);
}

void HttpServer::addHeaderToAll(const QByteArray& name, const QByteArray& value) {
    m_allHeaders.append({name, value});
}

HttpResponse HttpServer::answer(const HttpRequest& request) const {
    HttpResponse response = chosen(request);
    response.headers += m_allHeaders;
    return response;
}

HttpResponse HttpServer::chosen(const HttpRequest& request) const {
    const auto path = m_routes.constFind(request.path);
    if (path == m_routes.constEnd())
        return plain(404, "no encontrado");
    const QByteArray method = request.method == "HEAD" ? QByteArray("GET") : request.method;
    const auto handler = path->constFind(method);
    if (handler == path->constEnd()) {
        HttpResponse refused = plain(405, "método no permitido");
        refused.headers.append({"Allow", path->keys().join(", ")});
        return refused;
    }
    // Nothing may escape into the library's thread.
    try {
        return (*handler)(request);
    } catch (...) {
        return plain(500, "error interno");
    }
}

bool HttpServer::start(const QHostAddress& address, quint16 port, QString& error) {
    return start(address, port, HttpServerOptions{}, error);
}

bool HttpServer::start(const QHostAddress& address, quint16 port, const HttpServerOptions& options,
                       QString& error) {
    stop();
    const MicroHttpd& mhd = microHttpd();
    if (!mhd.ready) {
        error = QStringLiteral("no se puede cargar libmicrohttpd");
        return false;
    }
    if (options.tls() && mhd.featureSupported(MHD_FEATURE_TLS) != MHD_YES) {
        error = QStringLiteral("libmicrohttpd no tiene TLS");
        return false;
    }
    sockaddr_in in4{};
    sockaddr_in6 in6{};
    sockaddr* where = nullptr;
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ERROR_LOG;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, &bytes, sizeof in6.sin6_addr);
        where = reinterpret_cast<sockaddr*>(&in6);
        flags |= address == QHostAddress::AnyIPv6 ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
    } else {
        in4.sin_family = AF_INET;
        in4.sin_port = htons(port);
        in4.sin_addr.s_addr = htonl(address.toIPv4Address());
        where = reinterpret_cast<sockaddr*>(&in4);
    }
    auto daemon = std::make_unique<Daemon>();
    daemon->options = options;
    daemon->server = this;
    // The certificate and key are copied by the library; ours end in a NUL.
    std::vector<MHD_OptionItem> more{
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(options.headBytes), nullptr},
        {MHD_OPTION_UNESCAPE_CALLBACK, intptr_t(&unescape), nullptr}};
    if (options.perAddress)
        more.push_back({MHD_OPTION_PER_IP_CONNECTION_LIMIT, intptr_t(options.perAddress), nullptr});
    if (options.tls()) {
        flags |= MHD_USE_TLS;
        more.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0,
                        const_cast<char*>(daemon->options.certificate.constData())});
        more.push_back(
            {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(daemon->options.key.constData())});
    }
    more.push_back({MHD_OPTION_END, 0, nullptr});
    daemon->handle = mhd.startDaemon(
        flags, port, nullptr, nullptr, &Daemon::request, daemon.get(), MHD_OPTION_EXTERNAL_LOGGER,
        &Daemon::log, daemon.get(), MHD_OPTION_SOCK_ADDR, where, MHD_OPTION_NOTIFY_COMPLETED,
        &Daemon::completed, nullptr, MHD_OPTION_THREAD_POOL_SIZE, kThreads,
        MHD_OPTION_CONNECTION_LIMIT, options.connections, MHD_OPTION_CONNECTION_TIMEOUT,
        kIdleSeconds, MHD_OPTION_ARRAY, more.data(), MHD_OPTION_END);
    if (!daemon->handle) {
        error = daemon->lastMessage.isEmpty() ? QStringLiteral("no se puede escuchar")
                                              : daemon->lastMessage;
        return false;
    }
    m_daemon = std::move(daemon);
    return true;
}

void HttpServer::stop() {
    if (m_daemon && m_daemon->handle)
        microHttpd().stopDaemon(m_daemon->handle);
    m_daemon.reset();
}

bool HttpServer::listening() const {
    return m_daemon != nullptr;
}

quint16 HttpServer::port() const {
    if (!m_daemon)
        return 0;
    const MHD_DaemonInfo* info =
        microHttpd().daemonInfo(m_daemon->handle, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}
