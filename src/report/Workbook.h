#pragma once

#include "platform/DateTime.h"
#include "platform/PointDecimals.h"

#include <QString>
#include <QTemporaryFile>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// One cell of a workbook row, with its type: text stays text, numbers and
// date-times are numbers to the spreadsheet (date-times on the same day scale
// as the station's, formatted as dates).
struct WorkbookCell {
    enum class Type { Empty, Text, Number, Amount, Date, DateTime };
    Type type = Type::Empty;
    QString text;
    double number = 0;
    bool bold = false;

    static WorkbookCell ofText(const QString& text) { return {Type::Text, text, 0}; }
    static WorkbookCell ofNumber(double value) { return {Type::Number, {}, value}; }
    // Shown with two decimals. From whole cents: the nearest double to the
    // amount, which the spreadsheet shows and sums to the cent.
    static WorkbookCell ofCents(qint64 cents) { return {Type::Amount, {}, double(cents) / 100}; }
    // Date only when the value has no time of day.
    static WorkbookCell ofDateTime(TDateTime value) {
        return {timeOf(value) == 0 ? Type::Date : Type::DateTime, {}, value};
    }
    WorkbookCell inBold() const {
        WorkbookCell cell = *this;
        cell.bold = true;
        return cell;
    }
};

// Writes an Excel workbook (.xlsx), sheet after sheet and row after row, into a
// temporary file beside the target that commit() moves into place. A writer
// that goes without commit(), or whose commit() fails, leaves nothing behind.
// Numbers go into the file with a decimal point under any locale.
class TWorkbookWriter {
public:
    TWorkbookWriter(const QString& path, const QString& sheetName);
    ~TWorkbookWriter();
    TWorkbookWriter(const TWorkbookWriter&) = delete;
    TWorkbookWriter& operator=(const TWorkbookWriter&) = delete;

    void addRow(const std::vector<WorkbookCell>& cells);
    // The rows that follow go to a new sheet, from its first row.
    void addSheet(const QString& sheetName);
    // Raises EWriteError when the workbook cannot be written completely.
    void commit();

private:
    void writeCell(int column, const WorkbookCell& cell);
    lxw_format* formatOf(const WorkbookCell& cell);
    [[noreturn]] void fail(const QString& reason);

    QString m_path;
    QTemporaryFile m_temporary;
    // The library prints numbers with printf: every call into it uses this.
    PointDecimals m_pointDecimals;
    lxw_workbook* m_workbook = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    // By type (text, number, amount, date, date-time) and boldness.
    lxw_format* m_formats[5][2] = {};
    int m_row = 0;
};
