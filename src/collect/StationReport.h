#pragma once

#include "collect/StationEvents.h"

#include <QString>
#include <exception>
#include <optional>

// The status line of a transfer in progress: "FTP: n/m - host (desc) " and now.
QString transferStatusText(const TransferProgress& progress);

// Where the station's work reports: the status memo (one cycle's progress),
// the status line (the last event), the operations log and the standard error
// box. The station core implements it and tells its faces; the tests keep
// what they are told.
class StationReport {
public:
    virtual ~StationReport() = default;

    // Appends text to the memo as it stands: no line break is added.
    virtual void memoAppend(const QString& text) = 0;
    virtual void memoClear() = 0;
    virtual void statusText(const QString& text) = 0;
    // One row of log.DB: Fecha today, Hora now, Archivo the text, and
    // NroRegAsist when given. Raises when the row cannot be written, or, where
    // the row is written later (the station core), says so then.
    virtual void logRow(const QString& archivo, std::optional<int> nroRegAsist = std::nullopt) = 0;
    // The standard error box for an error that ended an operation.
    virtual void showError(const std::exception& error) = 0;
    // The bytes of a download so far; by default its status text.
    virtual void transfer(const TransferProgress& progress) {
        statusText(transferStatusText(progress));
    }
};
