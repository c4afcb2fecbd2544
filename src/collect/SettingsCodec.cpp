#include "collect/SettingsCodec.h"

#include "platform/Registry.h"

#include <QHash>
#include <QStringList>
#include <QVariant>
#include <cmath>

QString settingsKey(const QString& serverAlias) {
    return QStringLiteral("\\Software\\Tolv\\KIVO\\IP\\1.0\\") + serverAlias;
}

namespace {

// Reads a value whose absence or wrong type must not stop the reading; one
// that is there but unreadable is named in unread.
template <typename Read, typename T>
T readOr(const TRegistry& r, const QString& name, Read read, T fallback, QStringList* unread) {
    try {
        return read();
    } catch (const ERegistryException&) {
        if (unread && r.ValueExists(name))
            *unread << name;
        return fallback;
    }
}

// The values that must be there, in the order they are read.
const QStringList kRequired{QStringLiteral("Auto"),         QStringLiteral("AutoMin"),
                            QStringLiteral("DelayAutoMin"), QStringLiteral("HoraAuto"),
                            QStringLiteral("FileAuto"),     QStringLiteral("FileMan"),
                            QStringLiteral("EraseMan")};

void readRequired(const TRegistry& r, SettingsTarget& t) {
    t.applyAuto(r.ReadBool(kRequired[0]));
    t.applyAutoMin(r.ReadBool(kRequired[1]));
    t.applyDelayAutoMin(r.ReadInteger(kRequired[2]));
    t.applyHoraAuto(r.ReadDateTime(kRequired[3]));
    t.applyFileAuto(r.ReadString(kRequired[4]));
    t.applyFileMan(r.ReadString(kRequired[5]));
    t.applyEraseMan(r.ReadBool(kRequired[6]));
}

// The order of writing: the run is known before its flag is set, and stays
// known until the flag has been cleared.
const QStringList kWriteOrder{
    QStringLiteral("FTPrun"),     QStringLiteral("FTPpend"),      QStringLiteral("Auto"),
    QStringLiteral("AutoMin"),    QStringLiteral("DelayAutoMin"), QStringLiteral("HoraAuto"),
    QStringLiteral("FileAuto"),   QStringLiteral("FileMan"),      QStringLiteral("EraseMan"),
    QStringLiteral("fFTPerr"),    QStringLiteral("FTPloc"),       QStringLiteral("FTPix"),
    QStringLiteral("FTPtimeOut"), QStringLiteral("PuntosALaVez")};

// A value by its name; its type says how it is written.
struct NamedValue {
    enum class Kind { Bool, Integer, DateTime, String } kind;
    QVariant value;
};

NamedValue valueOf(const StationSettings& s, const QString& name) {
    using K = NamedValue::Kind;
    const QHash<QString, NamedValue> all{
        {QStringLiteral("FTPrun"), {K::String, s.recovery.runText()}},
        {QStringLiteral("FTPpend"), {K::String, s.recovery.pendingText()}},
        {QStringLiteral("Auto"), {K::Bool, s.Auto}},
        {QStringLiteral("AutoMin"), {K::Bool, s.AutoMin}},
        {QStringLiteral("DelayAutoMin"), {K::Integer, s.DelayAutoMin}},
        {QStringLiteral("HoraAuto"), {K::DateTime, s.HoraAuto}},
        {QStringLiteral("FileAuto"), {K::String, s.FileAuto}},
        {QStringLiteral("FileMan"), {K::String, s.FileMan}},
        {QStringLiteral("EraseMan"), {K::Bool, s.EraseMan}},
        {QStringLiteral("fFTPerr"), {K::Bool, s.fFTPerr}},
        {QStringLiteral("FTPloc"), {K::String, s.FTPloc}},
        {QStringLiteral("FTPix"), {K::Integer, s.FTPix}},
        {QStringLiteral("FTPtimeOut"), {K::Integer, s.FTPtimeOut}},
        {QStringLiteral("PuntosALaVez"), {K::Integer, s.PuntosALaVez}}};
    return all.value(name);
}

void writeValue(TRegistry& r, const QString& name, const NamedValue& v) {
    using K = NamedValue::Kind;
    switch (v.kind) {
    case K::Bool:
        r.WriteBool(name, v.value.toBool());
        break;
    case K::Integer:
        r.WriteInteger(name, v.value.toInt());
        break;
    case K::DateTime:
        r.WriteDateTime(name, v.value.toDouble());
        break;
    case K::String:
        r.WriteString(name, v.value.toString());
        break;
    }
}

} // namespace

void readSettings(const TRegistry& r, SettingsTarget& t, QStringList* unread) {
    try {
        readRequired(r, t);
    } catch (const ERegistryException&) {
        // The value that stopped the reading and the ones after it keep what
        // the file holds until the station sets them itself; "FTPix" too,
        // which is never read then.
        if (unread)
            for (const QString& name :
                 kRequired + QStringList{QStringLiteral("FTPix"), QStringLiteral("FTPtimeOut"),
                                         QStringLiteral("PuntosALaVez")})
                if (r.ValueExists(name) && !unread->contains(name))
                    *unread << name;
        throw;
    }
    // A bad "FTPix" reads as 1, which is then its value.
    t.applyFTPix(readOr(
        r, QStringLiteral("FTPix"), [&] { return r.ReadInteger(QStringLiteral("FTPix")); }, 1,
        nullptr));
    // A bad value leaves the control with the value it has, and the file its own.
    const auto optional = [&](const QString& name, auto apply) {
        try {
            apply(r.ReadInteger(name));
        } catch (const ERegistryException&) {
            if (unread && r.ValueExists(name))
                *unread << name;
        }
    };
    optional(QStringLiteral("FTPtimeOut"), [&](int value) { t.applyFTPtimeOut(value); });
    // Older keys lack it: one point at a time.
    if (r.ValueExists(QStringLiteral("PuntosALaVez")))
        optional(QStringLiteral("PuntosALaVez"), [&](int value) { t.applyPuntosALaVez(value); });
}

void readRecoveryValues(const TRegistry& r, StationSettings& s, QStringList& unread) {
    const auto has = [&](const char* name) { return r.ValueExists(QLatin1String(name)); };
    if (has("fFTPerr"))
        s.fFTPerr = readOr(
            r, QStringLiteral("fFTPerr"), [&] { return r.ReadBool(QStringLiteral("fFTPerr")); },
            false, &unread);
    if (has("FTPloc"))
        s.FTPloc = readOr(
            r, QStringLiteral("FTPloc"), [&] { return r.ReadString(QStringLiteral("FTPloc")); },
            QString(), &unread);
    if (has("FTPrun")) {
        const QMap<QString, PendingDelete> pending = s.recovery.pending;
        s.recovery = RecoveryExtra::fromRunText(readOr(
            r, QStringLiteral("FTPrun"), [&] { return r.ReadString(QStringLiteral("FTPrun")); },
            QString(), &unread));
        s.recovery.pending = pending;
    }
    if (has("FTPpend"))
        s.recovery.pending = RecoveryExtra::fromPendingText(readOr(
            r, QStringLiteral("FTPpend"), [&] { return r.ReadString(QStringLiteral("FTPpend")); },
            QString(), &unread));
}

// All values in one atomic rewrite of the registry file (one flush to the
// disk instead of thirteen): the settings on disk are the old ones or the new
// ones, never a mix. A save that fails raises "Failed to set data for
// 'FTPrun'" and leaves none of them written.
void writeSettings(TRegistry& r, const StationSettings& v, const UnreadValues* unread) {
    r.BeginUpdate();
    for (const QString& name : kWriteOrder) {
        const NamedValue value = valueOf(v, name);
        if (unread && unread->names.contains(name) &&
            value.value == valueOf(unread->asLoaded, name).value)
            continue;
        writeValue(r, name, value);
    }
    r.EndUpdate();
}

// "<run id>\t<output start>\t<mark>\t<skip>\t<loc length>\t<loc><output path>":
// the free texts last, since they may hold any character.
QString RecoveryExtra::runText() const {
    if (runId.isEmpty())
        return {};
    return QStringList{runId,
                       QString::number(outputStart),
                       QString::number(appendMark ? 1 : 0),
                       QString::number(skip),
                       QString::number(loc.size()),
                       loc + outputPath}
        .join(QLatin1Char('\t'));
}

RecoveryExtra RecoveryExtra::fromRunText(const QString& text) {
    RecoveryExtra extra;
    const QStringList parts = text.split(QLatin1Char('\t'));
    if (parts.size() < 6)
        return extra;
    bool okStart = false, okSkip = false, okLoc = false;
    extra.outputStart = parts.at(1).toLongLong(&okStart);
    extra.skip = parts.at(3).toInt(&okSkip);
    const int locSize = parts.at(4).toInt(&okLoc);
    const QString texts = parts.mid(5).join(QLatin1Char('\t'));
    if (!okStart || !okSkip || !okLoc || locSize < 0 || locSize > texts.size() ||
        parts.at(0).isEmpty())
        return {};
    extra.runId = parts.at(0);
    extra.appendMark = parts.at(2) == QLatin1String("1");
    extra.loc = texts.left(locSize);
    extra.outputPath = texts.mid(locSize);
    return extra;
}

// "<address>=<count>:<sha-256 hex>:<run id>" joined by ";".
QString RecoveryExtra::pendingText() const {
    QStringList entries;
    for (auto it = pending.cbegin(); it != pending.cend(); ++it)
        entries << it.key() + QLatin1Char('=') + QString::number(it->count) + QLatin1Char(':') +
                       QString::fromLatin1(it->sha256.toHex()) + QLatin1Char(':') + it->runId;
    return entries.join(QLatin1Char(';'));
}

QMap<QString, PendingDelete> RecoveryExtra::fromPendingText(const QString& text) {
    QMap<QString, PendingDelete> pending;
    for (const QString& entry : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString address = entry.section(QLatin1Char('='), 0, 0);
        const QString value = entry.section(QLatin1Char('='), 1);
        bool ok = false;
        PendingDelete p;
        p.count = value.section(QLatin1Char(':'), 0, 0).toInt(&ok);
        p.sha256 = QByteArray::fromHex(value.section(QLatin1Char(':'), 1, 1).toLatin1());
        p.runId = value.section(QLatin1Char(':'), 2);
        if (ok && p.count > 0 && p.sha256.size() == 32 && !address.isEmpty() && !p.runId.isEmpty())
            pending.insert(address, p);
    }
    return pending;
}

namespace {

void checkRange(const QString& name, int value, int low, int high) {
    if (value < low || value > high)
        throw ERegistryException(QStringLiteral("'%1' is %2; it must be from %3 to %4")
                                     .arg(name)
                                     .arg(value)
                                     .arg(low)
                                     .arg(high));
}

} // namespace

void checkDelayAutoMin(int seconds) {
    checkRange(QStringLiteral("DelayAutoMin"), seconds, kMinDelayAutoMin, kMaxDelayAutoMin);
}

void checkFtpTimeOut(int milliseconds) {
    checkRange(QStringLiteral("FTPtimeOut"), milliseconds, kMinFtpTimeOut, kMaxFtpTimeOut);
}

void checkPointsAtOnce(int points) {
    checkRange(QStringLiteral("PuntosALaVez"), points, kMinPointsAtOnce, kMaxPointsAtOnce);
}

void checkHoraAuto(TDateTime time) {
    if (!std::isfinite(time))
        throw ERegistryException(QStringLiteral("'HoraAuto' is no time of day"));
}

LoadedSettings loadStationSettings(const QString& serverAlias) {
    LoadedSettings loaded;
    TRegistry r;
    if (!r.OpenKey(settingsKey(serverAlias), false))
        return loaded;
    loaded.keyFound = true;
    readRecoveryValues(r, loaded.values, loaded.unread.names);
    SettingsRecord record(loaded.values);
    readSettings(r, record, &loaded.unread.names);
    r.CloseKey();
    if (loaded.unread.names.contains(QStringLiteral("FTPtimeOut")))
        throw ERegistryException(QStringLiteral("Invalid data type for 'FTPtimeOut'"));
    if (loaded.unread.names.contains(QStringLiteral("PuntosALaVez")))
        throw ERegistryException(
            QStringLiteral("'PuntosALaVez' is not a number; it must be from %1 to %2")
                .arg(kMinPointsAtOnce)
                .arg(kMaxPointsAtOnce));
    checkDelayAutoMin(loaded.values.DelayAutoMin);
    checkFtpTimeOut(loaded.values.FTPtimeOut);
    checkPointsAtOnce(loaded.values.PuntosALaVez);
    checkHoraAuto(loaded.values.HoraAuto);
    loaded.unread.asLoaded = loaded.values;
    return loaded;
}
