#include "RegistryMerge.h"

#include "platform/DateTime.h"
#include "platform/OwnerOnly.h"
#include "platform/Registry.h"
#include "platform/RegistryFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace {

const QString kSettingsRoot = QStringLiteral("HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\");
const QString kRegional = QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\International");

bool isSettingsKey(const QString& path) {
    return path.startsWith(kSettingsRoot, Qt::CaseInsensitive) &&
           path.size() > kSettingsRoot.size();
}

bool isStationKey(const QString& path) {
    return isSettingsKey(path) || path.compare(kRegional, Qt::CaseInsensitive) == 0;
}

// The server alias a settings key belongs to: the part after the root.
QString aliasOf(const QString& path) {
    return path.mid(kSettingsRoot.size()).section(QLatin1Char('\\'), 0, 0);
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isText(const regfile::Value& value) {
    return value.type == regfile::ValueType::String ||
           (value.type == regfile::ValueType::Other &&
            (value.otherType == 1 || value.otherType == 2));
}

// Text held as hex(1)/hex(2) data is in the encoding of its file: UTF-16 in a
// "Version 5.00" export, Windows-1252 in REGEDIT4.
regfile::Value carried(regfile::Value value, regfile::Format from, regfile::Format to) {
    const bool text =
        value.type == regfile::ValueType::Other && (value.otherType == 1 || value.otherType == 2);
    if (text && from != to)
        value.bytes = regfile::textAsOther(regfile::otherAsText(value, from), to);
    return value;
}

// What the station reads each of its settings as (src/collect/SettingsCodec).
enum class Expected { Number, Time, Text };

const QList<QPair<QString, Expected>>& stationValues() {
    static const QList<QPair<QString, Expected>> values = {
        {QStringLiteral("Auto"), Expected::Number},
        {QStringLiteral("AutoMin"), Expected::Number},
        {QStringLiteral("DelayAutoMin"), Expected::Number},
        {QStringLiteral("HoraAuto"), Expected::Time},
        {QStringLiteral("FileAuto"), Expected::Text},
        {QStringLiteral("FileMan"), Expected::Text},
        {QStringLiteral("EraseMan"), Expected::Number},
        {QStringLiteral("fFTPerr"), Expected::Number},
        {QStringLiteral("FTPloc"), Expected::Text},
        {QStringLiteral("FTPix"), Expected::Number},
        {QStringLiteral("FTPtimeOut"), Expected::Number},
    };
    return values;
}

const Expected* expectedOf(const QString& name) {
    for (const auto& [known, expected] : stationValues())
        if (sameName(known, name))
            return &expected;
    return nullptr;
}

bool hasType(const regfile::Value& value, Expected expected) {
    switch (expected) {
    case Expected::Number:
        return value.type == regfile::ValueType::Dword;
    case Expected::Time:
        return value.type == regfile::ValueType::Binary && value.bytes.size() == sizeof(double);
    case Expected::Text:
        return isText(value);
    }
    return false;
}

QString expectedText(Expected expected) {
    switch (expected) {
    case Expected::Number:
        return QStringLiteral("un número (dword:)");
    case Expected::Time:
        return QStringLiteral("una hora del día (hex: de 8 bytes)");
    case Expected::Text:
        return QStringLiteral("un texto (\"...\")");
    }
    return {};
}

// A value as a person reads it.
QString describe(const regfile::Value& value, regfile::Format format) {
    switch (value.type) {
    case regfile::ValueType::Dword:
        return QString::number(value.dword);
    case regfile::ValueType::String:
        return QLatin1Char('"') + value.text + QLatin1Char('"');
    case regfile::ValueType::Binary:
        if (value.bytes.size() == sizeof(double)) {
            const double time = qFromLittleEndian<double>(value.bytes.constData());
            if (time >= 0 && time < 1)
                return toQTime(time).toString(QStringLiteral("HH:mm:ss"));
        }
        return QStringLiteral("hex:") + QString::fromLatin1(value.bytes.toHex(','));
    case regfile::ValueType::Other:
        if (value.otherType == 1 || value.otherType == 2)
            return QLatin1Char('"') + regfile::otherAsText(value, format) + QLatin1Char('"');
        return QStringLiteral("hex(%1):%2")
            .arg(value.otherType)
            .arg(QString::fromLatin1(value.bytes.toHex(',')));
    }
    return {};
}

bool sameValue(const regfile::Value& a, const regfile::Value& b) {
    return a.type == b.type && a.dword == b.dword && a.text == b.text && a.bytes == b.bytes &&
           a.otherType == b.otherType;
}

// The first free name beside the file: "registry.reg.bak", "registry.reg.bak2", ...
QString freeBackupName(const QString& path) {
    QString candidate = path + QStringLiteral(".bak");
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = path + QStringLiteral(".bak%1").arg(n);
    return candidate;
}

// What the merge leaves out of one key of the export: the other station's
// recovery state, said plainly.
void leaveRecoveryOut(const regfile::Key& key, regfile::Format format, const regfile::Key* own,
                      regfile::Format ownFormat, RegistryMergeReport& report) {
    QStringList names;
    bool unfinished = false;
    QString loc;
    for (const regfile::Value& value : key.values) {
        if (!isRecoveryValue(value.name))
            continue;
        names << value.name;
        if (sameName(value.name, QStringLiteral("fFTPerr")) &&
            value.type == regfile::ValueType::Dword && value.dword != 0)
            unfinished = true;
        if (sameName(value.name, QStringLiteral("FTPrun")) && isText(value) &&
            !describe(value, format).remove(QLatin1Char('"')).isEmpty())
            unfinished = true;
        if (sameName(value.name, QStringLiteral("FTPloc")) && isText(value))
            loc = describe(value, format);
    }
    if (names.isEmpty())
        return;
    QStringList kept;
    for (const regfile::Value& value : own ? own->values : QList<regfile::Value>{})
        if (isRecoveryValue(value.name))
            kept << QStringLiteral("%1 = %2").arg(value.name, describe(value, ownFormat));
    report.notTaken << QStringLiteral(
                           "%1: valores no tomados: %2; el estado de recuperación es el de cada "
                           "estación, y el de esta estación queda como está (%3)")
                           .arg(key.path, names.join(QStringLiteral(", ")),
                                kept.isEmpty() ? QStringLiteral("no tiene ninguno")
                                               : kept.join(QStringLiteral(", ")));
    if (unfinished)
        report.notTaken
            << QStringLiteral(
                   "%1: la otra estación tenía una descarga sin terminar%2; sus archivos locales "
                   "están en esa máquina y no se trasladan: termínela allí, o almacene a mano los "
                   "registros de ese punto desde esos archivos")
                   .arg(key.path,
                        loc.isEmpty() ? QString() : QStringLiteral(" (Loc: %1)").arg(loc));
}

} // namespace

bool isRecoveryValue(const QString& name) {
    for (const char* recovery : {"fFTPerr", "FTPloc", "FTPix", "FTPrun", "FTPpend"})
        if (sameName(name, QLatin1String(recovery)))
            return true;
    return false;
}

RegistryMergeReport mergeRegistryExport(const QString& exportPath, const QString& registryPath,
                                        const RegistryMergeOptions& options) {
    RegistryMergeReport report;
    QFile file(exportPath);
    if (!file.open(QIODevice::ReadOnly)) {
        report.errors
            << QStringLiteral("no se puede leer '%1': %2").arg(exportPath, file.errorString());
        return report;
    }
    const std::optional<regfile::Document> source = regfile::parse(file.readAll());
    if (!source) {
        report.errors
            << QStringLiteral("'%1' no es una exportación del registro de Windows").arg(exportPath);
        return report;
    }
    regfile::Loaded target = regfile::load(registryPath);
    if (target.status == regfile::LoadStatus::Unreadable ||
        target.status == regfile::LoadStatus::Invalid) {
        report.errors << TRegistry::fileProblem(registryPath);
        return report;
    }
    const regfile::Format into = target.document.format;
    QStringList aliases;
    for (const regfile::Key& key : source->keys) {
        if (!isStationKey(key.path))
            continue;
        const bool settings = isSettingsKey(key.path);
        if (settings)
            aliases << aliasOf(key.path);
        // Types first: a value the station cannot read stops the merge.
        for (const regfile::Value& value : key.values) {
            const Expected* expected = settings ? expectedOf(value.name) : nullptr;
            if (expected && !isRecoveryValue(value.name) && !hasType(value, *expected))
                report.errors << QStringLiteral("%1: \"%2\" es %3, pero la estación lo lee como %4")
                                     .arg(key.path, value.name, describe(value, source->format),
                                          expectedText(*expected));
        }
        if (settings)
            leaveRecoveryOut(key, source->format, target.document.find(key.path), into, report);
        regfile::Key& destination = target.document.ensure(key.path);
        int count = 0;
        QStringList changes;
        for (const regfile::Value& value : key.values) {
            if (settings && isRecoveryValue(value.name))
                continue;
            const regfile::Value incoming = carried(value, source->format, into);
            const regfile::Value* old = destination.find(value.name);
            const QString name = value.name.isEmpty() ? QStringLiteral("@") : value.name;
            if (!old)
                changes
                    << QStringLiteral("  %1: (ninguno) -> %2").arg(name, describe(incoming, into));
            else if (!sameValue(*old, incoming))
                changes << QStringLiteral("  %1: %2 -> %3")
                               .arg(name, describe(*old, into), describe(incoming, into));
            else
                changes << QStringLiteral("  %1: %2 (sin cambio)").arg(name, describe(*old, into));
            destination.set(incoming);
            ++count;
        }
        report.merged << QStringLiteral("%1: %2 valores").arg(key.path).arg(count);
        report.changes << QStringLiteral("%1:").arg(key.path) << changes;
    }
    if (report.merged.isEmpty()) {
        report.errors << QStringLiteral("'%1' no contiene configuración de la estación (%2...) ni "
                                        "configuración regional")
                             .arg(exportPath, kSettingsRoot);
        return report;
    }
    if (!options.serverAlias.isEmpty() &&
        std::none_of(aliases.begin(), aliases.end(),
                     [&](const QString& a) { return sameName(a, options.serverAlias); }))
        report.warnings << QStringLiteral("ninguna clave combinada es la del alias del servidor en "
                                          "uso, '%1' (dbAlias.txt, línea 2): la estación no leerá "
                                          "la configuración combinada (claves combinadas: %2)")
                               .arg(options.serverAlias, aliases.isEmpty()
                                                             ? QStringLiteral("ninguna")
                                                             : aliases.join(QStringLiteral(", ")));
    if (!report.errors.isEmpty() || !options.write)
        return report;
    if (QFileInfo::exists(registryPath)) {
        // The copy may hold the mail relay's password: it is the owner's alone.
        const QString backup = freeBackupName(registryPath);
        QString why;
        if (!copyForOwner(registryPath, backup, why)) {
            report.errors << QStringLiteral("no se puede guardar una copia de '%1' como '%2': %3")
                                 .arg(registryPath, backup, why);
            return report;
        }
        report.backup = backup;
    }
    if (!regfile::save(registryPath, target.document)) {
        report.errors << QStringLiteral("no se puede escribir el archivo de configuración '%1'")
                             .arg(registryPath);
        return report;
    }
    report.written = true;
    return report;
}

QString RegistryMergeReport::text() const {
    QString out;
    for (const QString& key : merged)
        out += QStringLiteral("configuración: %1\n").arg(key);
    for (const QString& change : changes)
        out += QStringLiteral("configuración:   %1\n").arg(change);
    for (const QString& line : notTaken)
        out += QStringLiteral("configuración: %1\n").arg(line);
    for (const QString& warning : warnings)
        out += QStringLiteral("configuración: AVISO: %1\n").arg(warning);
    for (const QString& error : errors)
        out += QStringLiteral("configuración: ERROR: %1\n").arg(error);
    if (!backup.isEmpty())
        out += QStringLiteral(
                   "configuración: el archivo de configuración tal como estaba se guardó como %1\n")
                   .arg(backup);
    if (!errors.isEmpty())
        out += QStringLiteral("configuración: no se combinó nada.\n");
    else if (written)
        out += QStringLiteral("configuración: combinada.\n");
    return out;
}
