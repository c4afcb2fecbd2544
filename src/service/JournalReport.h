#pragma once

#include "collect/StationReport.h"

#include <QString>
#include <functional>

class TTable;

// Where a station without a window reports: each memo line, status text and
// error goes to standard error as one line with the syslog priority prefix
// journald reads ("<6>" information, "<4>" warning, "<3>" error); the
// operations log rows go to log.DB as the window writes them; each memo line
// is also the service's systemd status.
class JournalReport : public StationReport {
public:
    explicit JournalReport(TTable& tLog) : m_log(tLog) {}

    void memoAppend(const QString& text) override;
    void memoClear() override;
    void statusText(const QString& text) override;
    void logRow(const QString& archivo, std::optional<int> nroRegAsist = std::nullopt) override;
    void showError(const std::exception& error) override;

    // Points that failed ("FALLO") and errors shown since the last reset.
    int failures() const { return m_failures; }
    void resetFailures() { m_failures = 0; }
    // Called with each whole memo line.
    std::function<void(const QString& line)> onLine;
    std::function<void(const QString& text)> onStatus;
    std::function<void()> onClear;

private:
    void memoLine(const QString& line);

    TTable& m_log;
    QString m_pending; // the memo line being written
    int m_failures = 0;
};

// One line to standard error with its priority prefix.
void journalLine(int priority, const QString& text);
