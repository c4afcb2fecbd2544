#pragma once

#include <QString>
#include <QStringList>

// Carries the station's keys of a Windows registry export (REGEDIT4 or the
// UTF-16 "Version 5.00" form) into the station's registry file: the settings
// key of every server alias and the regional settings. Values of the export
// replace values of the same name; everything else in the file is kept.
struct RegistryMergeReport {
    QStringList merged; // "<key>: N values"
    QStringList errors;
    bool ok() const { return errors.isEmpty() && !merged.isEmpty(); }
    QString text() const;
};

RegistryMergeReport mergeRegistryExport(const QString& exportPath, const QString& registryPath);
