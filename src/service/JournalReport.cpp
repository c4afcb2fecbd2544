#include "service/JournalReport.h"

#include "collect/StationControl.h"
#include "service/SystemdNotify.h"

#include <QStringList>
#include <cstdio>

namespace {
constexpr int kError = 3, kWarning = 4, kInfo = 6;

// The priority a person reads a line at; nothing is decided from it.
int statusPriority(const QString& text) {
    if (text.startsWith(QLatin1String("ERROR")))
        return kError;
    if (text.startsWith(QLatin1String("AVISO")) || text.startsWith(QLatin1String("ALERTA")) ||
        text.contains(QLatin1String("FALLO")) || text.contains(QLatin1String("No se pudo")))
        return kWarning;
    return kInfo;
}

int memoPriority(const QString& line) {
    return line.contains(QLatin1String("FALLO")) ? kWarning : kInfo;
}
} // namespace

void journalLine(int priority, const QString& text) {
    std::fprintf(stderr, "<%d>%s\n", priority, text.toUtf8().constData());
    std::fflush(stderr);
}

ServiceJournal::ServiceJournal(StationControl& station) {
    QObject::connect(&station, &StationControl::memoAppended, &station,
                     [this](const QString& text) { memoAppended(text); });
    QObject::connect(&station, &StationControl::memoCleared, &station, [this] {
        if (!m_pending.isEmpty())
            memoLine(m_pending);
        m_pending.clear();
        if (onClear)
            onClear();
    });
    QObject::connect(&station, &StationControl::statusChanged, &station,
                     [this](const QString& text) {
                         journalLine(statusPriority(text), text);
                         if (onStatus)
                             onStatus(text);
                     });
    QObject::connect(&station, &StationControl::transferProgress, &station,
                     [this](const TransferProgress& progress) {
                         const QString text = transferStatusText(progress);
                         journalLine(kInfo, text);
                         if (onStatus)
                             onStatus(text);
                     });
    QObject::connect(&station, &StationControl::errorShown, &station,
                     [](const QString& message) { journalLine(kError, message); });
    // Why a point failed, at the failure's priority, under its FALLO line.
    QObject::connect(
        &station, &StationControl::pointVisited, &station, [](const PointVisit& visit) {
            if (visit.outcome.known && !visit.outcome.ok && !visit.outcome.elsewhere)
                journalLine(kWarning, QStringLiteral("FALLO en %1 (%2): %3")
                                          .arg(visit.desc, visit.ip, visit.outcome.failure));
        });
}

void ServiceJournal::memoAppended(const QString& text) {
    m_pending += text;
    QStringList lines = m_pending.split(QStringLiteral("\r\n"));
    m_pending = lines.takeLast(); // the line still being written
    for (const QString& line : std::as_const(lines))
        memoLine(line);
}

void ServiceJournal::memoLine(const QString& line) {
    journalLine(memoPriority(line), line);
    notifySystemd("STATUS=" + line.trimmed().toUtf8());
    if (onLine)
        onLine(line);
}
