#pragma once

#include "web/WebBoard.h"
#include "web/WebSettings.h"

#include <functional>
#include <memory>

class HttpServer;
struct HttpRequest;
struct HttpResponse;
class StationControl;

// The office's web page: the points' state, the tickets, the summary by cost
// centre with its downloads and the operations log, read-only, over the
// embedded HTTP server on threads of their own at a lower priority, where the
// settings of the server alias say (off by default). Without a certificate it
// answers on loopback only. What happens is said in the journal.
class WebSite {
public:
    using Journal = std::function<void(int priority, const QString& text)>;
    // points: the station's points with their health (read on the loop).
    WebSite(StationControl& station, WebBoard::Source points, Journal journal);
    ~WebSite(); // stops listening first

    // Reads the settings of the server alias and listens there: a listener
    // already in place with the same settings is kept.
    void apply(const QString& localAlias, const QString& serverAlias);
    void listen(const WebSettings& settings, const QString& localAlias, const QString& serverAlias);
    // The port it listens on (0: none).
    quint16 port() const;

    // Connections at once from one address, and in all.
    static constexpr unsigned kPerAddress = 64;
    static constexpr unsigned kConnections = 256;

private:
    struct Site;
    void stop();

    StationControl& m_station;
    WebBoard::Source m_points;
    Journal m_journal;
    WebSettings m_settings;
    QString m_aliases;
    std::unique_ptr<WebBoard> m_board;
    std::unique_ptr<Site> m_site;
    std::unique_ptr<HttpServer> m_server;
};
