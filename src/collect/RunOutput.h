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
    // Which file it is (fileIdentity), to tell later whether the path still
    // names it.
    QString identity() const;

    // A side file standing in for another output file that already holds
    // `held`, its bytes past the run's start: while the run's own bytes begin
    // with them, they are left out, so that the two files together hold each
    // line once. Called before the first line.
    void leaveOut(const QByteArray& held);
    // How many of the held bytes were the run's (and left out), and whether
    // the held bytes turned out not to be the beginning of the run's lines
    // (the side file then holds all of them).
    qint64 leftOut() const { return m_matched; }
    bool heldDiffers() const { return m_heldDiffers; }

    // Windows-1252 with CR LF; written in blocks, since the file only counts
    // once finish() has put all of it on the disk.
    void writeLine(const QString& line);
    void finish();
    // After finish(): whether the path still names the file written (it may
    // have been moved, or its folder removed, while the run wrote).
    bool stillAtPath() const;
    // After finish(): the run's bytes written again into a new file, synced.
    void copyTo(const QString& path);

private:
    void writePending();
    QByteArray withoutHeld(QByteArray bytes);
    [[noreturn]] void fail(int error);

    QFile m_file;
    qint64 m_start = 0;
    QByteArray m_pending;
    QByteArray m_held;
    qint64 m_matched = 0;
    bool m_heldDiffers = false;
};
