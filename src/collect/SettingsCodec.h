#pragma once

#include "platform/DateTime.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

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
// exactly once, as an older station kept it in two extra values of the key
// ("FTPrun" and "FTPpend"). The station now keeps its runs in a file of their
// own (RunState) and only adopts these; a key written without them loads as
// "no run known". The key is rewritten whole (writeSettings), so a save never
// leaves some values new and others old.
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
// and the extra recovery values. fFTPerr, FTPloc and the extra values are what
// the settings key holds of a download run: older stations kept their
// recovery state there. The station's own lives in a file of its own
// (RunState); the key's values are kept as loaded until that run is adopted.
struct StationSettings {
    bool Auto = false;
    bool AutoMin = true;
    int DelayAutoMin = 60;
    TDateTime HoraAuto = 23.0 / 24.0; // 23:00
    QString FileAuto;
    QString FileMan;
    bool EraseMan = false;
    bool fFTPerr = false;
    QString FTPloc;
    int FTPix = 0;
    int FTPtimeOut = 60000;
    int PuntosALaVez = 1; // "Puntos a la vez": points a cycle keeps in progress at once
    RecoveryExtra recovery;

    // A run or an unconfirmed delete that the key still holds.
    bool holdsRecoveryState() const { return fFTPerr || !recovery.pending.isEmpty(); }
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
    virtual void applyFTPix(int value) = 0;
    virtual void applyFTPtimeOut(int milliseconds) = 0;
    virtual void applyPuntosALaVez(int points) = 0;
};

// A target that keeps each value in a settings value (no window).
class SettingsRecord : public SettingsTarget {
public:
    explicit SettingsRecord(StationSettings& s) : m_s(s) {}
    void applyAuto(bool on) override { m_s.Auto = on; }
    void applyAutoMin(bool on) override { m_s.AutoMin = on; }
    void applyDelayAutoMin(int seconds) override { m_s.DelayAutoMin = seconds; }
    void applyHoraAuto(TDateTime time) override { m_s.HoraAuto = time; }
    void applyFileAuto(const QString& path) override { m_s.FileAuto = path; }
    void applyFileMan(const QString& path) override { m_s.FileMan = path; }
    void applyEraseMan(bool on) override { m_s.EraseMan = on; }
    void applyFTPix(int value) override { m_s.FTPix = value; }
    void applyFTPtimeOut(int milliseconds) override { m_s.FTPtimeOut = milliseconds; }
    void applyPuntosALaVez(int points) override { m_s.PuntosALaVez = points; }

private:
    StationSettings& m_s;
};

// Reads the settings of an open key in order. A value that must be there and
// is absent or of the wrong type raises ERegistryException and stops the
// reading; "FTPix" falls back to 1, and a bad "FTPtimeOut" or "PuntosALaVez"
// is not applied at all (a key without "PuntosALaVez" keeps 1). Values that are in the key but
// could not be read are added to unread, so that a save does not put defaults over them.
void readSettings(const TRegistry& registry, SettingsTarget& target, QStringList* unread = nullptr);

// Reads fFTPerr, FTPloc and the extra recovery values on their own, whatever
// became of the other settings; never raises. An absent or unreadable value
// leaves its field as it is (an unreadable one is added to unread).
void readRecoveryValues(const TRegistry& registry, StationSettings& into, QStringList& unread);

// Values to leave as the file holds them: those that could not be read,
// unless the station has since changed them.
struct UnreadValues {
    QStringList names;
    StationSettings asLoaded; // the station's values right after the reading
};

// Writes the values to an open key in one atomic rewrite; a value that cannot
// be written raises ERegistryException and none is written. With unread,
// each unread value the station still holds as loaded is left alone.
void writeSettings(TRegistry& registry, const StationSettings& values,
                   const UnreadValues* unread = nullptr);

// The settings key of a server alias as a station without a window reads it:
// the recovery values on their own, then the settings in order, each checked
// against the range the station accepts. An absent key gives the defaults.
// Raises ERegistryException with a message naming the value that stopped the
// reading or is out of range.
struct LoadedSettings {
    StationSettings values;
    UnreadValues unread;
    bool keyFound = false;
};
LoadedSettings loadStationSettings(const QString& serverAlias);

// The ranges the station accepts (the window's controls hold the same).
constexpr int kMinDelayAutoMin = 10, kMaxDelayAutoMin = 30000; // seconds
constexpr int kMinFtpTimeOut = 500, kMaxFtpTimeOut = 300000;   // milliseconds
constexpr int kMinPointsAtOnce = 1, kMaxPointsAtOnce = 32;

// Each raises ERegistryException naming the value when it is outside the
// station's range ("'FTPtimeOut' is 100; it must be from 500 to 300000").
void checkDelayAutoMin(int seconds);
void checkFtpTimeOut(int milliseconds);
void checkPointsAtOnce(int points);
void checkHoraAuto(TDateTime time); // a finite number
