#pragma once

#include <QString>
#include <QStringList>

// Carries the station's keys of a Windows registry export (REGEDIT4 or the
// UTF-16 "Version 5.00" form) into the station's registry file: the settings
// key of every server alias and the regional settings. Values of the export
// replace values of the same name; everything else in the file is kept.
//
// Never carried: the recovery state of the station that wrote the export
// (fFTPerr, FTPloc, FTPix, FTPrun, FTPpend). Its local files are on that
// machine; this station keeps its own values of those as they are.
//
// Checked before anything is written: the values the station reads must have
// the types it reads them as, or nothing is merged. The registry file as it was
// is kept beside the new one ("registry.reg.bak", or ".bak2"... when taken).
struct RegistryMergeOptions {
    QString serverAlias; // the server alias in use: a warning when no merged key is its
    bool write = true;   // false: check and report only
};

struct RegistryMergeReport {
    QStringList merged;   // "<key>: N valores"
    QStringList changes;  // "  <name>: old -> new", under the line of their key
    QStringList notTaken; // recovery values left out, and why
    QStringList warnings;
    QStringList errors;
    QString backup; // the copy of the registry file as it was; empty when none was needed
    bool written = false;
    bool ok() const { return errors.isEmpty() && !merged.isEmpty(); }
    QString text() const;
};

RegistryMergeReport mergeRegistryExport(const QString& exportPath, const QString& registryPath,
                                        const RegistryMergeOptions& options = {});

// The values of a settings key that are a station's own recovery state.
bool isRecoveryValue(const QString& name);
