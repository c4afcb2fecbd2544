#include "web/MetricsEndpoint.h"

#include "collect/StationReport.h"
#include "web/HttpServer.h"
#include "web/MetricsText.h"
#include "web/StationMetrics.h"

MetricsEndpoint::MetricsEndpoint(StationControl& station, StationReport& report,
                                 std::function<QList<HealthRow>()> healthRows)
    : m_station(station), m_report(report), m_healthRows(std::move(healthRows)) {}

MetricsEndpoint::~MetricsEndpoint() {
    stop();
}

void MetricsEndpoint::report(const QString& text) noexcept {
    try {
        m_report.statusText(text);
        m_report.logRow(text);
    } catch (const std::exception&) {
    }
}

void MetricsEndpoint::apply(const QString& serverAlias) {
    QStringList problems;
    const MetricsListen where = loadMetricsListen(serverAlias, problems);
    for (const QString& problem : problems)
        report(QStringLiteral("ERROR: configuración de las métricas: %1; no se publican")
                   .arg(problem));
    listen(where);
}

void MetricsEndpoint::listen(const MetricsListen& where) {
    if (where == m_where && (m_server || !where.on()))
        return;
    const bool wasOn = m_server != nullptr;
    // The server's threads read the metrics: it stops before they may go.
    m_server.reset();
    m_where = where;
    if (!where.on()) {
        m_metrics.reset();
        if (wasOn)
            report(QStringLiteral("Métricas apagadas"));
        return;
    }
    // A listener moved elsewhere keeps what was counted so far.
    if (!m_metrics)
        m_metrics = std::make_unique<StationMetrics>(m_station, m_healthRows);
    m_server = std::make_unique<HttpServer>();
    m_server->route("GET", "/metrics", [metrics = m_metrics.get()](const HttpRequest&) {
        HttpResponse response;
        response.contentType = kMetricsContentType;
        response.body = metricsText(metrics->snapshot());
        return response;
    });
    QString why;
    if (!m_server->start(where.address, where.port, why)) {
        report(QStringLiteral("ERROR: no se pueden publicar las métricas en %1: %2")
                   .arg(where.text(), why));
        stop();
        return;
    }
    report(QStringLiteral("Métricas en http://%1/metrics").arg(where.text()));
}

MetricsListen MetricsEndpoint::listening() const {
    return m_server ? m_where : MetricsListen{};
}

// The server's threads read the metrics: they stop first.
void MetricsEndpoint::stop() {
    m_server.reset();
    m_metrics.reset();
}
