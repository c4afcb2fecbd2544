#pragma once

#include "platform/DateTime.h"

#include <QString>
#include <optional>

class TTable;

// One row of log.DB, the operations log: Fecha the day of at, Hora its time
// of day, Archivo the text, and NroRegAsist when given. Opens and closes the
// table; raises when the row cannot be written.
void appendLogRow(TTable& tLog, const QString& archivo, std::optional<int> nroRegAsist,
                  TDateTime at);
