#include "station/SettingsCodec.h"

#include "platform/Registry.h"

QString settingsKey(const QString& serverAlias) {
    return QStringLiteral("\\Software\\Tolv\\KIVO\\IP\\1.0\\") + serverAlias;
}

namespace {
// Reads a value whose absence or wrong type must not stop the reading.
template <typename Read, typename T> T readOr(Read read, T fallback) {
    try {
        return read();
    } catch (const ERegistryException&) {
        return fallback;
    }
}
} // namespace

void readSettings(const TRegistry& r, SettingsTarget& t) {
    t.applyAuto(r.ReadBool(QStringLiteral("Auto")));
    t.applyAutoMin(r.ReadBool(QStringLiteral("AutoMin")));
    t.applyDelayAutoMin(r.ReadInteger(QStringLiteral("DelayAutoMin")));
    t.applyHoraAuto(r.ReadDateTime(QStringLiteral("HoraAuto")));
    t.applyFileAuto(r.ReadString(QStringLiteral("FileAuto")));
    t.applyFileMan(r.ReadString(QStringLiteral("FileMan")));
    t.applyEraseMan(r.ReadBool(QStringLiteral("EraseMan")));
    t.applyFFTPerr(readOr([&] { return r.ReadBool(QStringLiteral("fFTPerr")); }, false));
    t.applyFTPloc(readOr([&] { return r.ReadString(QStringLiteral("FTPloc")); }, QString()));
    t.applyFTPix(readOr([&] { return r.ReadInteger(QStringLiteral("FTPix")); }, 1));
    try {
        t.applyFTPtimeOut(r.ReadInteger(QStringLiteral("FTPtimeOut")));
    } catch (const ERegistryException&) {
        // the control keeps the value it has
    }
}

void writeSettings(TRegistry& r, const StationSettings& v) {
    r.WriteBool(QStringLiteral("Auto"), v.Auto);
    r.WriteBool(QStringLiteral("AutoMin"), v.AutoMin);
    r.WriteInteger(QStringLiteral("DelayAutoMin"), v.DelayAutoMin);
    r.WriteDateTime(QStringLiteral("HoraAuto"), v.HoraAuto);
    r.WriteString(QStringLiteral("FileAuto"), v.FileAuto);
    r.WriteString(QStringLiteral("FileMan"), v.FileMan);
    r.WriteBool(QStringLiteral("EraseMan"), v.EraseMan);
    r.WriteBool(QStringLiteral("fFTPerr"), v.fFTPerr);
    r.WriteString(QStringLiteral("FTPloc"), v.FTPloc);
    r.WriteInteger(QStringLiteral("FTPix"), v.FTPix);
    r.WriteInteger(QStringLiteral("FTPtimeOut"), v.FTPtimeOut);
}
