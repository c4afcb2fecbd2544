#pragma once

#include <QString>
#include <optional>

class TTable;

// One row of log.DB, the operations log: Fecha today, Hora now, Archivo the
// text, and NroRegAsist when given. Opens and closes the table; raises when
// the row cannot be written.
void appendLogRow(TTable& tLog, const QString& archivo, std::optional<int> nroRegAsist);
