#include "collect/SettingsCodec.h"

#include "platform/Registry.h"

#include <QStringList>

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
    RecoveryExtra extra = RecoveryExtra::fromRunText(
        readOr([&] { return r.ReadString(QStringLiteral("FTPrun")); }, QString()));
    extra.pending = RecoveryExtra::fromPendingText(
        readOr([&] { return r.ReadString(QStringLiteral("FTPpend")); }, QString()));
    t.applyRecoveryExtra(extra);
}

// All values in one atomic rewrite of the registry file (one flush to the
// disk instead of thirteen): the settings on disk are the old ones or the new
// ones, never a mix. A save that fails raises "Failed to set data for
// 'FTPrun'" and leaves none of them written, which keeps the rule that the
// values after a failed one are not written.
void writeSettings(TRegistry& r, const StationSettings& v) {
    r.BeginUpdate();
    // First: the run is known before its flag is set, and stays known until
    // the flag has been cleared (also when a single value's write fails).
    r.WriteString(QStringLiteral("FTPrun"), v.recovery.runText());
    r.WriteString(QStringLiteral("FTPpend"), v.recovery.pendingText());
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
