#pragma once

#include "LegacyTable.h"

#include <functional>

// Runs a table read in a child process and returns its result. A library
// that loops for ever or crashes on a damaged file then costs that child,
// not the import: a read that does not finish in time, or dies, raises
// ELegacyTable. ELegacyTable raised by the read reaches the caller as such.
LegacyTable readInChildProcess(const std::function<LegacyTable()>& read, int timeLimitMs);
