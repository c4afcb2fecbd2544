#pragma once

#include "collect/SettingsCodec.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <algorithm>
#include <optional>

// The download run whose local copies may be the only copy of its records.
// Every path is absolute, so that a station started from another working
// directory still finds the run's files.
struct RunRecord {
    QString runId;           // journaled with its rows
    QString loc;             // Loc of the run
    QString workDir;         // where its local copies are
    QByteArray countSha256;  // of the local count file as fetched
    QByteArray recordSha256; // of the local record file; empty: not part of the run
    int count = -1; // of the count file; -1: not known (a state written before it was kept)
    int records =
        -1; // whole records the run reads (the count, or fewer in a short file); -1: not known
    QString outputPath;      // output file of the run (a side file: see sideFor)
    QString outputFile;      // which file the run's own was (fileIdentity); empty: not known
    qint64 outputStart = 0;  // its length when the run began: a recovery cuts it back
    bool appendMark = false; // the completion row's "*"
    int skip = 0;            // leading records already stored by an earlier run
    QString sideFor;         // set when outputPath is a side file standing in for this file
    // The unconfirmed-delete entry this run replaced, put back if the run is
    // set aside unstored.
    QString point;
    std::optional<PendingDelete> priorPending;
    QString lease; // the point's lease in the server; empty: none taken

    // The output file the run's lines belong to, and where a run writes
    // from: a side file is written whole.
    QString intendedOutput() const { return sideFor.isEmpty() ? outputPath : sideFor; }
    qint64 writeStart() const { return sideFor.isEmpty() ? outputStart : 0; }
    // Tickets the run has to store: its records past the skip; -1: not known.
    int toStore() const { return records < 0 ? -1 : std::max(0, records - skip); }

    QString countFile() const;
    QString recordFile() const;
};

// Output lines stored while the output file was out of reach, waiting for the
// operator to move them.
struct SideFile {
    QString path;     // in the working directory, named after the run
    QString intended; // the output file they belong to
};

// The bytes a point's record file held past its count at a visit that left
// them there. Only the same bytes seen at two visits in a row are a stale
// tail, deleted unstored; new ones may be a ticket whose count is to come.
struct TailSeen {
    QByteArray sha256;
    qint64 bytes = 0;
};

// The station's recovery state, in one file of its own beside the local
// databases ("$XDG_DATA_HOME/kivo-ip/recovery.json"): whatever server alias or
// settings are in force, a run left unfinished is found and its local copies
// are never overwritten by a fetch. Written whole to a temporary file, synced
// and renamed over the old one.
class RunState {
public:
    static QString defaultPath();

    // Reads the file; an absent file is a station with nothing to recover.
    // Raises Exception when the file exists and cannot be read or parsed, or
    // a field is missing or of the wrong type (named in the message):
    // guessing would risk its run's records.
    static RunState load(const QString& path);
    // The same, from the file's bytes; where names the file in the message.
    static RunState parse(const QByteArray& bytes, const QString& where);
    // Raises Exception with the system's reason; the old file stays then.
    void save();

    bool existedOnDisk() const { return m_existed; }
    const QString& path() const { return m_path; }

    bool unfinished = false; // the run must be stored before anything is fetched
    RunRecord run;
    QMap<QString, PendingDelete> pending; // by the point's peer address
    QList<SideFile> sideFiles;
    QMap<QString, TailSeen> tails; // by the point's peer address

private:
    QString m_path;
    bool m_existed = false;
};

// The SHA-256 of a whole file; empty when it cannot be read.
QByteArray fileSha256(const QString& path);
