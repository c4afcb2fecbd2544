#include "service/JournalReport.h"

#include "collect/LogTable.h"
#include "service/SystemdNotify.h"

#include <QStringList>
#include <cstdio>

namespace {
constexpr int kError = 3, kWarning = 4, kInfo = 6;

bool failed(const QString& text) {
    return text.contains(QLatin1String("FALLO"));
}
} // namespace

void journalLine(int priority, const QString& text) {
    std::fprintf(stderr, "<%d>%s\n", priority, text.toUtf8().constData());
    std::fflush(stderr);
}

void JournalReport::memoAppend(const QString& text) {
    m_pending += text;
    QStringList lines = m_pending.split(QStringLiteral("\r\n"));
    m_pending = lines.takeLast(); // the line still being written
    for (const QString& line : std::as_const(lines))
        memoLine(line);
}

void JournalReport::memoClear() {
    if (!m_pending.isEmpty())
        memoLine(m_pending);
    m_pending.clear();
    if (onClear)
        onClear();
}

void JournalReport::memoLine(const QString& line) {
    if (failed(line))
        ++m_failures;
    journalLine(failed(line) ? kWarning : kInfo, line);
    notifySystemd("STATUS=" + line.trimmed().toUtf8());
    if (onLine)
        onLine(line);
}

void JournalReport::statusText(const QString& text) {
    const int priority =
        text.startsWith(QLatin1String("ERROR")) ? kError
        : text.startsWith(QLatin1String("AVISO")) || text.startsWith(QLatin1String("ALERTA"))
            ? kWarning
            : kInfo;
    journalLine(priority, text);
    if (onStatus)
        onStatus(text);
}

void JournalReport::logRow(const QString& archivo, std::optional<int> nroRegAsist) {
    appendLogRow(m_log, archivo, nroRegAsist);
}

void JournalReport::showError(const std::exception& error) {
    ++m_failures;
    journalLine(kError, QString::fromUtf8(error.what()));
}
