// The old station's table files as kivo-import reads them: a dBASE .DBF
// through shapelib (in this process) and a Paradox .DB through pxlib in the
// child process it always runs in. Input: 'P' or 'D' (any other byte: dBASE),
// then the file's bytes.
//
// Properties: a damaged file is refused with the import's own error (never a
// crash, another exception or a wait past the reader's time limit, which the
// fuzzer's -timeout catches); a table that is read has one cell per column
// in every row, and its rows are numbered in increasing file order.

#include "FuzzSupport.h"
#include "LegacyTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const bool paradox = in.byte() == 'P';
    const QByteArray bytes = in.rest();
    const QString path = fuzz::scratch(paradox ? QStringLiteral("t.DB") : QStringLiteral("t.DBF"));
    fuzz::writeFile(path, bytes);
    try {
        const std::unique_ptr<LegacyReader> reader =
            paradox ? openParadoxTable(path) : openDbfTable(path);
        const size_t columns = size_t(reader->head().columns.size());
        int number = 0;
        std::vector<LegacyRow> rows;
        while (reader->next(rows))
            for (const LegacyRow& row : rows) {
                fuzz::check(row.number > number, "rows are numbered in file order");
                number = row.number;
                fuzz::check(row.cells.size() == columns, "every row has one cell per column");
            }
    } catch (const ELegacyTable&) {
        return 0;
    }
    return 0;
}
