#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The run's output file, cut back to its length when the run began, so that a
// recovery writes its lines once whatever the interrupted run had written.
// Raises when it cannot be opened, cut back or written.
class RunOutput {
public:
    RunOutput(const QString& path, qint64 start);
    // Windows-1252 with CR LF; written in blocks, since the file only counts
    // once finish() has put all of it on the disk.
    void writeLine(const QString& line);
    void finish();

private:
    void writePending();
    [[noreturn]] void fail(int error);

    QFile m_file;
    QByteArray m_pending;
};
