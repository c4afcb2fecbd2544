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
    // After the eleven: a save cut short after "fFTPerr" leaves the run unknown
    // (stored again in full, never skipped), not a flag with a stale run.
    r.WriteString(QStringLiteral("FTPrun"), v.recovery.runText());
    r.WriteString(QStringLiteral("FTPpend"), v.recovery.pendingText());
}

// "<run id>\t<output start>\t<mark>\t<skip>\t<output path>": the path last,
// since it may hold any character.
QString RecoveryExtra::runText() const {
    if (runId.isEmpty())
        return {};
    return QStringLiteral("%1\t%2\t%3\t%4\t%5")
        .arg(runId)
        .arg(outputStart)
        .arg(appendMark ? 1 : 0)
        .arg(skip)
        .arg(outputPath);
}

RecoveryExtra RecoveryExtra::fromRunText(const QString& text) {
    RecoveryExtra extra;
    const QStringList parts = text.split(QLatin1Char('\t'));
    if (parts.size() < 5)
        return extra;
    bool okStart = false, okSkip = false;
    extra.outputStart = parts.at(1).toLongLong(&okStart);
    extra.skip = parts.at(3).toInt(&okSkip);
    if (!okStart || !okSkip || parts.at(0).isEmpty())
        return {};
    extra.runId = parts.at(0);
    extra.appendMark = parts.at(2) == QLatin1String("1");
    extra.outputPath = parts.mid(4).join(QLatin1Char('\t'));
    return extra;
}

// "<address>=<count>:<sha-256 hex>" joined by ";".
QString RecoveryExtra::pendingText() const {
    QStringList entries;
    for (auto it = pending.cbegin(); it != pending.cend(); ++it)
        entries << QStringLiteral("%1=%2:%3")
                       .arg(it.key())
                       .arg(it->count)
                       .arg(QString::fromLatin1(it->sha256.toHex()));
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
        p.sha256 = QByteArray::fromHex(value.section(QLatin1Char(':'), 1).toLatin1());
        if (ok && p.count > 0 && p.sha256.size() == 32 && !address.isEmpty())
            pending.insert(address, p);
    }
    return pending;
}
