#pragma once

#include <QString>
#include <functional>

class StationControl;

// One line to standard error with its priority prefix.
void journalLine(int priority, const QString& text);

// The journal of a station without a window: each memo line, status text and
// error of the station goes to standard error as one line with the syslog
// priority prefix journald reads ("<6>" information, "<4>" a point's FALLO
// or a warning, "<3>" an error), and each memo line is also the service's
// systemd status. What decides anything (a cycle's start and end, a point's
// failure) comes from the station's typed events, never from these texts.
class ServiceJournal {
public:
    explicit ServiceJournal(StationControl& station);

    // Called with each whole memo line, each status text, and each clearing.
    std::function<void(const QString& line)> onLine;
    std::function<void(const QString& text)> onStatus;
    std::function<void()> onClear;

private:
    void memoAppended(const QString& text);
    void memoLine(const QString& line);

    QString m_pending; // the memo line being written
};
