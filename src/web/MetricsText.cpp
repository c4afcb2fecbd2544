#include "web/MetricsText.h"

#include <functional>

namespace {

using Labels = QList<std::pair<const char*, QString>>;

QByteArray number(double value) {
    return QByteArray::number(value, 'g', 15);
}

QByteArray seconds(const QDateTime& when) {
    return when.isValid() ? number(double(when.toMSecsSinceEpoch()) / 1000) : QByteArray("0");
}

// A label's value: backslash, double quote and line feed escaped.
QByteArray escaped(const QString& value) {
    QByteArray out;
    for (const char c : value.toUtf8())
        out += c == '\\'   ? QByteArray("\\\\")
               : c == '"'  ? QByteArray("\\\"")
               : c == '\n' ? QByteArray("\\n")
                           : QByteArray(1, c);
    return out;
}

QByteArray labelText(const Labels& labels) {
    if (labels.isEmpty())
        return {};
    QByteArrayList parts;
    for (const auto& [name, value] : labels)
        parts << QByteArray(name) + "=\"" + escaped(value) + '"';
    return '{' + parts.join(',') + '}';
}

class Writer {
public:
    void family(const char* name, const char* type, const char* help) {
        m_out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char* name, const Labels& labels, const QByteArray& value) {
        m_out += QByteArray(name) + labelText(labels) + ' ' + value + '\n';
    }
    // The cumulative buckets, the sum and the count of a histogram.
    void histogram(const char* name, const Labels& labels, const Histogram& h) {
        quint64 below = 0;
        for (qsizetype i = 0; i < h.counts.size(); ++i) {
            below += h.counts[i];
            Labels bucket = labels;
            bucket.append({"le", i < h.bounds.size() ? QString::number(h.bounds[i], 'g', 15)
                                                     : QStringLiteral("+Inf")});
            sample((QByteArray(name) + "_bucket").constData(), bucket, QByteArray::number(below));
        }
        sample((QByteArray(name) + "_sum").constData(), labels, number(h.sum));
        sample((QByteArray(name) + "_count").constData(), labels, QByteArray::number(h.count));
    }
    QByteArray text() const { return m_out; }

private:
    QByteArray m_out;
};

Labels pointLabels(const PointMetrics& p) {
    return {{"point", p.ip}, {"loc", p.loc}};
}

// One gauge family over every point.
void pointGauge(Writer& w, const MetricsSnapshot& m, const char* name, const char* help,
                const std::function<QByteArray(const PointMetrics&)>& value) {
    w.family(name, "gauge", help);
    for (const PointMetrics& p : m.points)
        w.sample(name, pointLabels(p), value(p));
}

void points(Writer& w, const MetricsSnapshot& m) {
    w.family("kivo_point_info", "gauge", "A registration point: its address, Loc and description.");
    for (const PointMetrics& p : m.points)
        w.sample("kivo_point_info", {{"point", p.ip}, {"loc", p.loc}, {"desc", p.desc}}, "1");
    pointGauge(w, m, "kivo_point_last_success_timestamp_seconds",
               "When the point's last visit succeeded (Unix time; 0: never).",
               [](const PointMetrics& p) { return seconds(p.lastSuccess); });
    pointGauge(w, m, "kivo_point_last_failure_timestamp_seconds",
               "When the point's last visit failed (Unix time; 0: never).",
               [](const PointMetrics& p) { return seconds(p.lastFailure); });
    pointGauge(w, m, "kivo_point_failures_in_row", "Visits in a row that failed.",
               [](const PointMetrics& p) { return QByteArray::number(p.failuresInRow); });
    pointGauge(w, m, "kivo_point_down", "1 while the point is alerted as down.",
               [](const PointMetrics& p) { return QByteArray(p.down ? "1" : "0"); });
    pointGauge(w, m, "kivo_point_records_today", "Records stored today from the point.",
               [](const PointMetrics& p) { return QByteArray::number(p.recordsToday); });
    w.family("kivo_point_records_stored_total", "counter",
             "Records stored from the point since the metrics began to count.");
    for (const PointMetrics& p : m.points)
        w.sample("kivo_point_records_stored_total", pointLabels(p),
                 QByteArray::number(p.recordsStored));
    w.family("kivo_point_visit_duration_seconds", "histogram",
             "How long each visit of the point took: fetch, storing and push.");
    for (const PointMetrics& p : m.points)
        w.histogram("kivo_point_visit_duration_seconds", pointLabels(p), p.visitSeconds);
}

void cycles(Writer& w, const MetricsSnapshot& m) {
    const std::pair<const char*, const CycleMetrics*> kinds[] = {{"download", &m.download},
                                                                 {"sync", &m.sync}};
    w.family("kivo_cycles_total", "counter",
             "Cycles ended, by kind and result (ok: every point succeeded).");
    for (const auto& [kind, c] : kinds)
        for (const auto& [result, count] : {std::pair{"ok", c->ok}, std::pair{"failed", c->failed},
                                            std::pair{"cancelled", c->cancelled}})
            w.sample("kivo_cycles_total", {{"kind", kind}, {"result", result}},
                     QByteArray::number(count));
    w.family("kivo_cycle_duration_seconds", "histogram", "How long each cycle took.");
    for (const auto& [kind, c] : kinds)
        w.histogram("kivo_cycle_duration_seconds", {{"kind", kind}}, c->seconds);
    w.family("kivo_cycle_last_duration_seconds", "gauge", "How long the last cycle took.");
    for (const auto& [kind, c] : kinds)
        w.sample("kivo_cycle_last_duration_seconds", {{"kind", kind}}, number(c->lastSeconds));
    w.family("kivo_cycle_last_end_timestamp_seconds", "gauge",
             "When the last cycle ended (Unix time; 0: none yet).");
    for (const auto& [kind, c] : kinds)
        w.sample("kivo_cycle_last_end_timestamp_seconds", {{"kind", kind}}, seconds(c->lastEnd));
    w.family("kivo_cycle_last_failures", "gauge",
             "Failures in the last cycle: the points that failed, and an error that ended it.");
    for (const auto& [kind, c] : kinds)
        w.sample("kivo_cycle_last_failures", {{"kind", kind}}, QByteArray::number(c->lastFailures));
    w.family("kivo_cycle_running", "gauge", "1 while a cycle runs.");
    w.sample("kivo_cycle_running", {}, m.cycleRunning ? "1" : "0");
}

void storing(Writer& w, const MetricsSnapshot& m) {
    w.family("kivo_storing_run_duration_seconds", "histogram",
             "How long each storing run took on its thread.");
    w.histogram("kivo_storing_run_duration_seconds", {}, m.storingSeconds);
    w.family("kivo_storing_runs_failed_total", "counter", "Storing runs that ended in an error.");
    w.sample("kivo_storing_runs_failed_total", {}, QByteArray::number(m.storingFailed));
    w.family("kivo_start_time_seconds", "gauge", "When the service began to count (Unix time).");
    w.sample("kivo_start_time_seconds", {}, seconds(m.started));
}

} // namespace

QByteArray metricsText(const MetricsSnapshot& metrics) {
    Writer w;
    points(w, metrics);
    cycles(w, metrics);
    storing(w, metrics);
    return w.text();
}
