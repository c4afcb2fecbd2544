#pragma once

#include <QString>
#include <exception>
#include <optional>

// Where the station's work reports: the status memo (one cycle's progress),
// the status line (the last event), the operations log and the standard error
// box. The main window implements it with mStatus, StatusBar1 and tLog; a
// service without a window implements it too.
class StationReport {
public:
    virtual ~StationReport() = default;

    // Appends text to the memo as it stands: no line break is added.
    virtual void memoAppend(const QString& text) = 0;
    virtual void memoClear() = 0;
    virtual void statusText(const QString& text) = 0;
    // One row of log.DB: Fecha today, Hora now, Archivo the text, and
    // NroRegAsist when given. Raises when the row cannot be written.
    virtual void logRow(const QString& archivo, std::optional<int> nroRegAsist = std::nullopt) = 0;
    // The standard error box for an error that ended an operation.
    virtual void showError(const std::exception& error) = 0;
};
