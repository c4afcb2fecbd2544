#pragma once

#include "collect/PointHealth.h"
#include "web/MetricsSettings.h"

#include <functional>
#include <memory>

class HttpServer;
class StationControl;
class StationMetrics;
class StationReport;

// The station's metrics at /metrics of an HTTP listener of their own, where
// the settings say, for a monitoring system to scrape (no session: whoever
// reaches the address is answered, so it is loopback unless the administrator
// names another). Nothing listens, and nothing is counted, while they are off.
// What happens is said in the log and the status line.
class MetricsEndpoint {
public:
    // healthRows: the station's health table as it stands.
    MetricsEndpoint(StationControl& station, StationReport& report,
                    std::function<QList<HealthRow>()> healthRows);
    ~MetricsEndpoint(); // stops listening first

    // Reads the setting of the server alias and listens there: a listener
    // already in place is kept, one elsewhere is moved, and none is left
    // when the metrics are off.
    void apply(const QString& serverAlias);
    void listen(const MetricsListen& where);
    // Where it listens (port 0: nowhere).
    MetricsListen listening() const;

private:
    void stop();
    void report(const QString& text) noexcept;

    StationControl& m_station;
    StationReport& m_report;
    std::function<QList<HealthRow>()> m_healthRows;
    MetricsListen m_where;
    std::unique_ptr<StationMetrics> m_metrics;
    std::unique_ptr<HttpServer> m_server;
};
