#pragma once

#include "platform/DateTime.h"

#include <QString>

class TRegistry;

// The eleven settings of the station, in the order they are read and written.
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
};

// Reads the values of an open key in order. A value that must be there and is
// absent or of the wrong type raises ERegistryException and stops the reading;
// the recovery values fall back instead ("fFTPerr" false, "FTPloc" empty,
// "FTPix" 1), and a bad "FTPtimeOut" is not applied at all.
void readSettings(const TRegistry& registry, SettingsTarget& target);

// Writes the values to an open key in order; the first value that cannot be
// written raises ERegistryException and the values after it are not written.
void writeSettings(TRegistry& registry, const StationSettings& values);
