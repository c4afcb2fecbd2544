#pragma once

#include "platform/DateTime.h"

#include <QByteArray>
#include <QMap>
#include <QString>

class TRegistry;

// A run whose records were handed to storage while the point was asked to
// delete them, without that delete being confirmed: the point may still hold
// them, and they must not be stored a second time.
struct PendingDelete {
    QString runId;     // the run that stored them: they count only once it is journaled
    int count = 0;     // records of the run
    QByteArray sha256; // of the first count * 20 bytes of the record file
};

// What a recovery run needs beyond fFTPerr and FTPloc to store each record
// exactly once. Kept in two extra values ("FTPrun" and "FTPpend"), written
// before the eleven so that a save cut short never leaves the flag set with
// a stale run; a key written without them loads as "no run known".
struct RecoveryExtra {
    QString runId;           // identity of the storing run, journaled with its rows
    QString loc;             // Loc of the run (FTPloc may lag behind it in a save cut short)
    QString outputPath;      // output file of the run
    qint64 outputStart = 0;  // its length when the run began: a recovery cuts it back
    bool appendMark = false; // the completion row's "*"
    int skip = 0;            // leading records already stored by an earlier run
    QMap<QString, PendingDelete> pending; // by point address

    QString runText() const;
    static RecoveryExtra fromRunText(const QString& text);
    QString pendingText() const;
    static QMap<QString, PendingDelete> fromPendingText(const QString& text);
};

// The eleven settings of the station, in the order they are read and written,
// and the extra recovery values.
struct StationSettings {
    bool Auto = false;
    bool AutoMin = true;
    int DelayAutoMin = 60;
    TDateTime HoraAuto = 0;
    QString FileAuto;
    QString FileMan;
    bool EraseMan = false;
    bool fFTPerr = false;
    QString FTPloc;
    int FTPix = 0;
    int FTPtimeOut = 60000;
    RecoveryExtra recovery;
};

// "\Software\Tolv\KIVO\IP\1.0\" followed by the server alias.
QString settingsKey(const QString& serverAlias);

// Receives each value as soon as it has been read, so that a value that stops
// the reading leaves the earlier ones applied.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    virtual void applyAuto(bool on) = 0;
    virtual void applyAutoMin(bool on) = 0;
    virtual void applyDelayAutoMin(int seconds) = 0;
    virtual void applyHoraAuto(TDateTime time) = 0;
    virtual void applyFileAuto(const QString& path) = 0;
    virtual void applyFileMan(const QString& path) = 0;
    virtual void applyEraseMan(bool on) = 0;
    virtual void applyFFTPerr(bool on) = 0;
    virtual void applyFTPloc(const QString& loc) = 0;
    virtual void applyFTPix(int value) = 0;
    virtual void applyFTPtimeOut(int milliseconds) = 0;
    virtual void applyRecoveryExtra(const RecoveryExtra& extra) = 0;
};

// Reads the values of an open key in order. A value that must be there and is
// absent or of the wrong type raises ERegistryException and stops the reading;
// the recovery values fall back instead ("fFTPerr" false, "FTPloc" empty,
// "FTPix" 1), and a bad "FTPtimeOut" is not applied at all.
void readSettings(const TRegistry& registry, SettingsTarget& target);

// Writes the values to an open key in order; the first value that cannot be
// written raises ERegistryException and the values after it are not written.
void writeSettings(TRegistry& registry, const StationSettings& values);
