#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>

// One request as a handler sees it, whole: its body has arrived.
struct HttpRequest {
    QByteArray method;                    // "GET", "HEAD", "POST" ...
    QByteArray path;                      // without the query
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QMap<QByteArray, QByteArray> query;   // the arguments of the query, decoded
    QByteArray body;
    QMap<QByteArray, QByteArray> cookies; // from the Cookie header
    QHostAddress client;                  // the peer's address
    bool secure = false;                  // came over TLS
};

// How a server listens beyond its address: TLS when a certificate and key (PEM)
// are given; how many connections it holds at once, in all and from one
// address (0: no cap of its own); and how much a request's head may take.
struct HttpServerOptions {
    QByteArray certificate, key;
    unsigned connections = 64;
    unsigned perAddress = 0;
    unsigned headBytes = 32 * 1024;

    bool tls() const { return !certificate.isEmpty(); }
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers; // added as they stand
};

// Answers one request. Called on one of the server's threads, and on several
// at once: whatever it reads of the station it must take under a lock of its
// own (and briefly: the event loop may be waiting for the same lock).
using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// The embedded HTTP server (libmicrohttpd, loaded when a server first starts):
// it listens on an address and port of its own and answers on threads of its
// own, never on the event loop's. Routes name a method and a path exactly; a
// path without a route is 404, a method the path has no route for is 405.
// Request bodies are taken up to kMaxBody bytes (413 beyond); a head beyond
// the options' headBytes is refused by the library. No session here: whoever
// reaches the address is answered; TLS when the options carry a certificate.
class HttpServer {
public:
    static constexpr qsizetype kMaxBody = 1 << 20;

    HttpServer();
    ~HttpServer(); // stops it: waits for the requests being answered
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Set before start(). HEAD is answered by the GET route, without the body.
    void route(const QByteArray& method, const QByteArray& path, HttpHandler handler);
    // Set before start(): headers every answer carries, those of refusals too.
    void addHeaderToAll(const QByteArray& name, const QByteArray& value);

    // Listens on the address and port (0: one the system chooses). False,
    // with the reason in error, when it cannot.
    bool start(const QHostAddress& address, quint16 port, QString& error);
    bool start(const QHostAddress& address, quint16 port, const HttpServerOptions& options,
               QString& error);
    void stop();
    bool listening() const;
    // The port it listens on.
    quint16 port() const;

    // What a request gets, given whole (the server's threads call it).
    HttpResponse answer(const HttpRequest& request) const;

private:
    struct Daemon;
    std::unique_ptr<Daemon> m_daemon;
    QMap<QByteArray, QMap<QByteArray, HttpHandler>> m_routes; // path, method
    QList<std::pair<QByteArray, QByteArray>> m_allHeaders;
    HttpResponse chosen(const HttpRequest& request) const;
};
