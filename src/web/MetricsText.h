#pragma once

#include "web/StationMetrics.h"

#include <QByteArray>

// The content type of the text below.
inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// The metrics in the text format monitoring systems scrape (Prometheus's
// exposition format, version 0.0.4): a HELP and a TYPE line before each
// family, labels escaped, times as Unix seconds (0: never).
QByteArray metricsText(const MetricsSnapshot& metrics);
