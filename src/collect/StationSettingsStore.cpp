#include "collect/StationSettingsStore.h"

#include "platform/Registry.h"

#include <algorithm>

namespace {

// Keeps each value as read, the three numbers brought to the nearer limit of
// their range, as the window's spin edits hold them.
class ClampingRecord : public SettingsRecord {
public:
    using SettingsRecord::SettingsRecord;
    void applyDelayAutoMin(int seconds) override {
        SettingsRecord::applyDelayAutoMin(std::clamp(seconds, kMinDelayAutoMin, kMaxDelayAutoMin));
    }
    void applyFTPtimeOut(int milliseconds) override {
        SettingsRecord::applyFTPtimeOut(std::clamp(milliseconds, kMinFtpTimeOut, kMaxFtpTimeOut));
    }
    void applyPuntosALaVez(int points) override {
        SettingsRecord::applyPuntosALaVez(std::clamp(points, kMinPointsAtOnce, kMaxPointsAtOnce));
    }
};

} // namespace

void StationSettingsStore::reset() {
    m_values = StationSettings();
    m_unread = UnreadValues();
    m_keyFound = false;
}

void StationSettingsStore::load() {
    const LoadedSettings loaded = loadStationSettings(m_alias);
    m_values = loaded.values;
    m_unread = loaded.unread;
    m_keyFound = loaded.keyFound;
}

void StationSettingsStore::loadClamped() {
    reset();
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(m_alias), false)) {
        keepAsLoaded();
        return;
    }
    m_keyFound = true;
    // The recovery values are read whatever becomes of the others.
    readRecoveryValues(registry, m_values, m_unread.names);
    ClampingRecord record(m_values);
    try {
        readSettings(registry, record, &m_unread.names);
    } catch (...) {
        registry.CloseKey();
        keepAsLoaded();
        throw;
    }
    registry.CloseKey();
    keepAsLoaded();
}

void StationSettingsStore::save() {
    writeKey();
}

void StationSettingsStore::forgetKeyRun() {
    m_values.fFTPerr = false;
    m_values.recovery = RecoveryExtra();
    if (!writeKey())
        throw ERegistryException(QStringLiteral("Cannot open the settings key '%1' in \"%2\"")
                                     .arg(settingsKey(m_alias), TRegistry::defaultPath()));
}

bool StationSettingsStore::writeKey() {
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(m_alias), true))
        return false;
    try {
        writeSettings(registry, m_values, &m_unread);
    } catch (...) {
        registry.CloseKey();
        throw;
    }
    registry.CloseKey();
    return true;
}

void StationSettingsStore::setDelayAutoMin(int seconds) {
    checkDelayAutoMin(seconds);
    m_values.DelayAutoMin = seconds;
}

void StationSettingsStore::setHoraAuto(TDateTime time) {
    checkHoraAuto(time);
    m_values.HoraAuto = time;
}

void StationSettingsStore::setFtpTimeOut(int milliseconds) {
    checkFtpTimeOut(milliseconds);
    m_values.FTPtimeOut = milliseconds;
}

QTime SettingsCycleControls::dailyTime() const {
    return toQTime(timeOf(m_settings.values().HoraAuto));
}

void StationSettingsStore::setPointsAtOnce(int points) {
    checkPointsAtOnce(points);
    m_values.PuntosALaVez = points;
}
