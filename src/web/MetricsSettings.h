#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>

// Where the metrics are served: the settings value "Metricas", "PORT" (on
// loopback), "ADDRESS:PORT" or "[IPv6 ADDRESS]:PORT". Absent or empty: off.
struct MetricsListen {
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 0; // 0: off

    bool on() const { return port != 0; }
    // "127.0.0.1:9740", "[::1]:9740".
    QString text() const;
    bool operator==(const MetricsListen&) const = default;
};

// nullopt, with what is wrong in problem, when the text names no address and port.
std::optional<MetricsListen> parseMetricsListen(const QString& text, QString& problem);

// Reads "Metricas" from the settings key of the server alias; a value that
// cannot be read leaves the metrics off and is named in problems.
MetricsListen loadMetricsListen(const QString& serverAlias, QStringList& problems);
