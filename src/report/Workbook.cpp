#include "report/Workbook.h"

#include "platform/DiskSync.h"
#include "platform/Regional.h"
#include "report/SeparatedValues.h"

#include <QFileInfo>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <xlsxwriter.h>

namespace {

// A character XML cannot carry (control characters but tab and line feed,
// U+FFFE, U+FFFF) is written as "_xHHHH_", which a spreadsheet reads back as
// that character.
bool needsEscape(QChar c) {
    const char16_t u = c.unicode();
    return (u < 0x20 && u != u'\t' && u != u'\n') || u == 0xFFFE || u == 0xFFFF;
}

// A "_" that would begin such an escape in the written text (followed by
// "xHHHH" and a "_" or an escaped character) is itself written as "_x005F_".
bool beginsEscape(const QString& text, qsizetype at) {
    if (at + 6 >= text.size() || text.at(at + 1) != QLatin1Char('x'))
        return false;
    for (qsizetype i = at + 2; i < at + 6; ++i)
        if (text.at(i).unicode() > 0x7F || !std::isxdigit(text.at(i).unicode()))
            return false;
    return text.at(at + 6) == QLatin1Char('_') || needsEscape(text.at(at + 6));
}

// The text as the sheet's XML holds it: the library escapes neither of the
// above, and a spreadsheet would read them as other text or not at all.
QString sheetText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (needsEscape(c))
            out += QStringLiteral("_x%1_").arg(
                QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
        else if (c == QLatin1Char('_') && beginsEscape(text, i))
            out += QStringLiteral("_x005F_");
        else
            out += c;
    }
    return out;
}

// Amounts with two decimals; dates in the regional short date (and long time).
QByteArray numberFormatOf(WorkbookCell::Type type) {
    const FormatSettings& regional = formatSettings();
    switch (type) {
    case WorkbookCell::Type::Amount:
        return "0.00";
    case WorkbookCell::Type::Date:
        return spreadsheetFormat(regional.shortDateFormat).toUtf8();
    case WorkbookCell::Type::DateTime:
        return spreadsheetFormat(regional.shortDateFormat + QLatin1Char(' ') +
                                 regional.longTimeFormat)
            .toUtf8();
    default:
        return {};
    }
}

} // namespace

TWorkbookWriter::TWorkbookWriter(const QString& path, const QString& sheetName)
    : m_path(path), m_temporary(path + QStringLiteral(".XXXXXX")) {
    // The library names its file only when it closes the workbook; the
    // temporary file reserves a unique name beside the target meanwhile.
    if (!m_temporary.open())
        fail(m_temporary.errorString());
    const auto point = m_pointDecimals.use();
    m_temporary.close();
    const QByteArray temporaryName = QFile::encodeName(m_temporary.fileName());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as they come
    m_workbook = workbook_new_opt(temporaryName.constData(), &options);
    if (!m_workbook)
        fail(QStringLiteral("no se pudo crear el libro"));
    addSheet(sheetName);
}

void TWorkbookWriter::addSheet(const QString& sheetName) {
    const auto point = m_pointDecimals.use();
    m_sheet = workbook_add_worksheet(m_workbook, sheetName.toUtf8().constData());
    if (!m_sheet)
        fail(QStringLiteral("no se pudo crear la hoja %1").arg(sheetName));
    m_row = 0;
}

// Formats are made once each, when a cell first needs one; plain text and
// numbers need none.
lxw_format* TWorkbookWriter::formatOf(const WorkbookCell& cell) {
    const int type = int(cell.type) - int(WorkbookCell::Type::Text);
    lxw_format*& format = m_formats[type][cell.bold];
    if (format || (!cell.bold && cell.type <= WorkbookCell::Type::Number))
        return format;
    format = workbook_add_format(m_workbook);
    const QByteArray numberFormat = numberFormatOf(cell.type);
    if (!numberFormat.isEmpty())
        format_set_num_format(format, numberFormat.constData());
    if (cell.bold)
        format_set_bold(format);
    return format;
}

TWorkbookWriter::~TWorkbookWriter() {
    const auto point = m_pointDecimals.use();
    if (m_workbook)
        workbook_close(m_workbook); // frees it; the temporary file goes with m_temporary
}

void TWorkbookWriter::addRow(const std::vector<WorkbookCell>& cells) {
    // A row in constant-memory mode is printed when the next one starts.
    const auto point = m_pointDecimals.use();
    for (size_t column = 0; column < cells.size(); ++column)
        writeCell(int(column), cells[column]);
    ++m_row;
}

void TWorkbookWriter::writeCell(int column, const WorkbookCell& cell) {
    lxw_error error = LXW_NO_ERROR;
    switch (cell.type) {
    case WorkbookCell::Type::Empty:
        return;
    case WorkbookCell::Type::Text:
        error = worksheet_write_string(m_sheet, lxw_row_t(m_row), lxw_col_t(column),
                                       sheetText(cell.text).toUtf8().constData(), formatOf(cell));
        break;
    default:
        // Dates too: the spreadsheet counts days from 1899-12-30 as well.
        error = worksheet_write_number(m_sheet, lxw_row_t(m_row), lxw_col_t(column), cell.number,
                                       formatOf(cell));
        break;
    }
    if (error != LXW_NO_ERROR)
        fail(QString::fromUtf8(lxw_strerror(error)));
}

void TWorkbookWriter::commit() {
    const auto point = m_pointDecimals.use(); // the page margins are printed now
    lxw_workbook* workbook = m_workbook;
    m_workbook = nullptr;
    const lxw_error error = workbook_close(workbook);
    if (error != LXW_NO_ERROR)
        fail(QString::fromUtf8(lxw_strerror(error)));
    QFile::setPermissions(m_temporary.fileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ReadGroup | QFile::ReadOther);
    // On disk before it takes the target's name, as the text exports are.
    QFile written(m_temporary.fileName());
    if (!written.open(QIODevice::ReadWrite) || !flushToDisk(written))
        fail(written.errorString());
    written.close();
    // rename() replaces an existing target in one step.
    if (std::rename(QFile::encodeName(m_temporary.fileName()).constData(),
                    QFile::encodeName(m_path).constData()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
}

void TWorkbookWriter::fail(const QString& reason) {
    throw writeError(m_path, reason);
}
