#pragma once

#include "LegacyTable.h"

#include <functional>
#include <memory>

// What a read in a child process hands back: the head once, before any row.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void head(const LegacyTable& head) = 0;
    virtual void row(LegacyRow row) = 0;
    virtual void note(const QString& note) = 0; // a trailing note
};

// Runs a table read in a child process, whose head and rows come back in
// batches as it sends them. A library that loops for ever or crashes on a
// damaged file then costs that child, not the import: a child that sends
// nothing for `idleLimitMs`, or dies, raises ELegacyTable, and ELegacyTable
// raised by the read reaches the caller as such (from the reader's
// construction or from next()).
std::unique_ptr<LegacyReader> readInChildProcess(std::function<void(RowSink&)> read,
                                                 int idleLimitMs);
