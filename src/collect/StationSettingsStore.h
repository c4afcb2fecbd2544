#pragma once

#include "collect/Cycles.h"
#include "collect/SettingsCodec.h"

// The settings of the station for one server alias, and what the settings
// key holds of a download run: the one place they live for the window and
// for the service. Loads and saves through the settings codec, and never
// writes back a value the key holds that it could not read, unless the
// station has changed it since.
class StationSettingsStore {
public:
    explicit StationSettingsStore(QString serverAlias = {}) : m_alias(std::move(serverAlias)) {}

    void setServerAlias(const QString& serverAlias) { m_alias = serverAlias; }
    const QString& serverAlias() const { return m_alias; }

    // The service's reading: every value read and checked against its range.
    // A value that stops the reading or is out of range raises
    // ERegistryException naming it, and the values held stay as they were.
    void load();
    // The window's reading: each value in turn, a number outside its range
    // brought to the nearer limit. A value that stops the reading raises
    // ERegistryException; the values read before it are held, the others
    // keep what they were.
    void loadClamped();
    // The values held now count as the loaded ones: an unread value is left
    // alone by a save as long as the station holds it as it is now.
    void keepAsLoaded() { m_unread.asLoaded = m_values; }

    // Writes every value in one rewrite. A key that cannot be opened saves
    // nothing; a value that cannot be written raises ERegistryException.
    void save();
    // The point's work has taken the key's run for its own: the key forgets
    // it. This must reach the disk: a key that cannot be opened raises.
    void forgetKeyRun();

    const StationSettings& values() const { return m_values; }
    bool keyFound() const { return m_keyFound; }
    const UnreadValues& unread() const { return m_unread; }

    // Each setter refuses a value outside the station's range with
    // ERegistryException naming the value.
    void setAuto(bool on) { m_values.Auto = on; }
    void setAutoMin(bool on) { m_values.AutoMin = on; }
    void setDelayAutoMin(int seconds);
    void setHoraAuto(TDateTime time);
    void setFileAuto(const QString& path) { m_values.FileAuto = path; }
    void setFileMan(const QString& path) { m_values.FileMan = path; }
    void setEraseMan(bool on) { m_values.EraseMan = on; }
    void setFtpTimeOut(int milliseconds);
    void setPointsAtOnce(int points);

private:
    void reset();
    // false when the key cannot be opened
    bool writeKey();

    QString m_alias;
    StationSettings m_values;
    UnreadValues m_unread;
    bool m_keyFound = false;
};

// What the cycles read of the settings: the daily time, the constant trigger
// and the output files.
class SettingsCycleControls : public CycleControls {
public:
    explicit SettingsCycleControls(const StationSettingsStore& settings) : m_settings(settings) {}
    QTime dailyTime() const override;
    bool constantOn() const override { return m_settings.values().AutoMin; }
    QString automaticPrefix() const override { return m_settings.values().FileAuto; }
    QString manualPath() const override { return m_settings.values().FileMan; }
    bool manualOverwrite() const override { return m_settings.values().EraseMan; }

private:
    const StationSettingsStore& m_settings;
};
