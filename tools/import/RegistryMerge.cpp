#include "RegistryMerge.h"

#include "platform/RegistryFile.h"

#include <QFile>

namespace {

const QString kSettingsRoot = QStringLiteral("HKEY_CURRENT_USER\\Software\\Tolv\\KIVO\\IP\\1.0\\");
const QString kRegional = QStringLiteral("HKEY_CURRENT_USER\\Control Panel\\International");

bool isStationKey(const QString& path) {
    const bool settings =
        path.startsWith(kSettingsRoot, Qt::CaseInsensitive) && path.size() > kSettingsRoot.size();
    return settings || path.compare(kRegional, Qt::CaseInsensitive) == 0;
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

} // namespace

RegistryMergeReport mergeRegistryExport(const QString& exportPath, const QString& registryPath) {
    RegistryMergeReport report;
    QFile file(exportPath);
    if (!file.open(QIODevice::ReadOnly)) {
        report.errors << QStringLiteral("cannot read '%1': %2").arg(exportPath, file.errorString());
        return report;
    }
    const std::optional<regfile::Document> source = regfile::parse(file.readAll());
    if (!source) {
        report.errors << QStringLiteral("'%1' is not a registry export").arg(exportPath);
        return report;
    }
    regfile::Loaded target = regfile::load(registryPath);
    if (target.status == regfile::LoadStatus::Unreadable) {
        report.errors << QStringLiteral("cannot read the registry file '%1'").arg(registryPath);
        return report;
    }
    for (const regfile::Key& key : source->keys) {
        if (!isStationKey(key.path))
            continue;
        regfile::Key& into = target.document.ensure(key.path);
        for (const regfile::Value& value : key.values)
            into.set(carried(value, source->format, target.document.format));
        report.merged << QStringLiteral("%1: %2 values").arg(key.path).arg(key.values.size());
    }
    if (report.merged.isEmpty()) {
        report.errors << QStringLiteral("'%1' holds no settings of the station (%2...) and no "
                                        "regional settings")
                             .arg(exportPath, kSettingsRoot);
        return report;
    }
    if (!regfile::save(registryPath, target.document))
        report.errors << QStringLiteral("cannot write the registry file '%1'").arg(registryPath);
    return report;
}

QString RegistryMergeReport::text() const {
    QString out;
    for (const QString& key : merged)
        out += QStringLiteral("registry: %1\n").arg(key);
    for (const QString& error : errors)
        out += QStringLiteral("registry: ERROR: %1\n").arg(error);
    return out;
}
