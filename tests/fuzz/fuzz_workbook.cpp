// The workbook export: rows of arbitrary cell texts, numbers and date-times
// written by the workbook writer, then the .xlsx read back (its ZIP entries
// inflated, the first sheet's XML read as a spreadsheet program reads it).
// Input: rows separated by 0x1E, cells by 0x1F; a cell starting with 0x01 is
// a number (int32 in tenths), one starting with 0x02 a date-time (a day and
// a second of it), any other a text (UTF-8).
//
// Property: every cell reads back with its type and value: texts exactly,
// numbers exactly, date-times to the millisecond. A text holding NUL cannot
// be written (the library takes C strings) and is not tried.

#include "FuzzSupport.h"
#include "platform/DateTime.h"
#include "report/SeparatedValues.h"
#include "report/Workbook.h"

#include <QMap>
#include <QXmlStreamReader>
#include <QtEndian>
#include <algorithm>
#include <cctype>
#include <zlib.h>

namespace {

// The entries of a ZIP file, through its central directory.
QMap<QString, QByteArray> unzip(const QByteArray& zip) {
    QMap<QString, QByteArray> entries;
    const qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    fuzz::check(end >= 0 && end + 22 <= zip.size(), "the workbook is a ZIP file");
    const uchar* z = reinterpret_cast<const uchar*>(zip.constData());
    const int count = qFromLittleEndian<quint16>(z + end + 10);
    qsizetype at = qFromLittleEndian<quint32>(z + end + 16);
    for (int i = 0; i < count; ++i) {
        fuzz::check(at + 46 <= zip.size() && qFromLittleEndian<quint32>(z + at) == 0x02014b50,
                    "a central directory entry");
        const int method = qFromLittleEndian<quint16>(z + at + 10);
        const quint32 packed = qFromLittleEndian<quint32>(z + at + 20);
        const quint32 size = qFromLittleEndian<quint32>(z + at + 24);
        const int nameLength = qFromLittleEndian<quint16>(z + at + 28);
        const int skip = nameLength + qFromLittleEndian<quint16>(z + at + 30) +
                         qFromLittleEndian<quint16>(z + at + 32);
        const qsizetype local = qFromLittleEndian<quint32>(z + at + 42);
        const QString name = QString::fromUtf8(zip.mid(at + 46, nameLength));
        const qsizetype data = local + 30 + qFromLittleEndian<quint16>(z + local + 26) +
                               qFromLittleEndian<quint16>(z + local + 28);
        QByteArray content(qsizetype(size), '\0');
        if (method == 0) {
            content = zip.mid(data, packed);
        } else {
            z_stream stream{};
            fuzz::check(inflateInit2(&stream, -MAX_WBITS) == Z_OK, "zlib starts");
            stream.next_in = const_cast<Bytef*>(z + data);
            stream.avail_in = packed;
            stream.next_out = reinterpret_cast<Bytef*>(content.data());
            stream.avail_out = size;
            const int result = inflate(&stream, Z_FINISH);
            inflateEnd(&stream);
            fuzz::check(result == Z_STREAM_END, "a ZIP entry inflates", name);
        }
        entries.insert(name, content);
        at += 46 + skip;
    }
    return entries;
}

bool fourHexDigits(QStringView digits) {
    return digits.size() == 4 && std::all_of(digits.begin(), digits.end(), [](QChar c) {
               return c.unicode() < 0x80 && std::isxdigit(c.unicode());
           });
}

// "_xHHHH_" stands for the character HHHH in a spreadsheet's text: exactly
// four hexadecimal digits (toUShort would also take " 041").
QString unescaped(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        bool ok = false;
        if (text.at(i) == QLatin1Char('_') && i + 6 < text.size() &&
            text.at(i + 1) == QLatin1Char('x') && text.at(i + 6) == QLatin1Char('_') &&
            fourHexDigits(QStringView(text).mid(i + 2, 4))) {
            const ushort code = text.mid(i + 2, 4).toUShort(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 6;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

struct ReadCell {
    QString type; // "inlineStr", "s", "n" (or empty), ...
    QString text; // a text cell's text, or a number cell's value
    bool styled = false;
};

// Row and column of a reference such as "AB12".
QPair<int, int> position(const QString& reference) {
    int column = 0;
    qsizetype i = 0;
    for (; i < reference.size() && reference.at(i).isUpper(); ++i)
        column = column * 26 + (reference.at(i).unicode() - 'A' + 1);
    return {reference.mid(i).toInt() - 1, column - 1};
}

QMap<QPair<int, int>, ReadCell> cellsOf(const QByteArray& sheet, const QStringList& shared) {
    QMap<QPair<int, int>, ReadCell> cells;
    QXmlStreamReader xml(sheet);
    QPair<int, int> at;
    ReadCell cell;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("c")) {
            at = position(xml.attributes().value(QLatin1String("r")).toString());
            cell = ReadCell{xml.attributes().value(QLatin1String("t")).toString(), QString(),
                            xml.attributes().hasAttribute(QLatin1String("s"))};
        } else if (xml.isStartElement() &&
                   (xml.name() == QLatin1String("t") || xml.name() == QLatin1String("v"))) {
            cell.text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.isEndElement() && xml.name() == QLatin1String("c")) {
            if (cell.type == QLatin1String("s"))
                cell.text = shared.value(cell.text.toInt());
            if (cell.type == QLatin1String("s") || cell.type == QLatin1String("inlineStr"))
                cell.text = unescaped(cell.text);
            cells.insert(at, cell);
        }
    }
    fuzz::check(!xml.hasError(), "the sheet is well-formed XML", xml.errorString());
    return cells;
}

QStringList sharedStrings(const QByteArray& xmlText) {
    QStringList strings;
    QXmlStreamReader xml(xmlText);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("si"))
            strings << xml.readElementText(QXmlStreamReader::IncludeChildElements);
    }
    return strings;
}

WorkbookCell cellOf(const QByteArray& bytes) {
    fuzz::Input in(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    if (bytes.startsWith('\x01')) {
        in.byte();
        return WorkbookCell::ofNumber(qint32(in.u32()) / 10.0);
    }
    if (bytes.startsWith('\x02')) {
        in.byte();
        const int day = in.u16() + 20000; // 1954 to 2133
        const int second = int(in.u32() % 86400);
        return WorkbookCell::ofDateTime(day + second / 86400.0);
    }
    return WorkbookCell::ofText(QString::fromUtf8(bytes));
}

void checkCell(const WorkbookCell& written, const ReadCell* read, const QString& where) {
    if (written.type == WorkbookCell::Type::Text && written.text.isEmpty())
        return; // an empty text may be left out
    fuzz::check(read != nullptr, "every cell is in the sheet", where);
    switch (written.type) {
    case WorkbookCell::Type::Empty:
        break;
    case WorkbookCell::Type::Text:
        fuzz::check(read->text == written.text, "a text reads back exactly",
                    where + QStringLiteral(" wrote [%1] read [%2]").arg(written.text, read->text));
        break;
    case WorkbookCell::Type::Number:
    case WorkbookCell::Type::Amount:
        fuzz::check(read->text.toDouble() == written.number, "a number reads back exactly",
                    where +
                        QStringLiteral(" wrote %1 read %2").arg(written.number).arg(read->text));
        break;
    case WorkbookCell::Type::Date:
    case WorkbookCell::Type::DateTime: {
        const DateTimeParts a = decodeDateTime(written.number);
        const DateTimeParts b = decodeDateTime(read->text.toDouble());
        fuzz::check(read->styled && a.year == b.year && a.month == b.month && a.day == b.day &&
                        a.hour == b.hour && a.minute == b.minute && a.second == b.second &&
                        a.msec == b.msec,
                    "a date-time reads back to the millisecond, formatted",
                    where +
                        QStringLiteral(" wrote %1 read %2").arg(written.number).arg(read->text));
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    std::vector<std::vector<WorkbookCell>> rows;
    while (!in.empty()) {
        std::vector<WorkbookCell> row;
        for (const QByteArray& cell : in.until('\x1e').split('\x1f')) {
            if (cell.contains('\0'))
                return 0;
            row.push_back(cellOf(cell));
        }
        rows.push_back(row);
    }
    const QString path = fuzz::scratch(QStringLiteral("export.xlsx"));
    {
        TWorkbookWriter writer(path, QStringLiteral("Reporte"));
        for (const auto& row : rows)
            writer.addRow(row);
        writer.commit();
    }
    const QMap<QString, QByteArray> entries = unzip(fuzz::readFile(path));
    const QMap<QPair<int, int>, ReadCell> cells =
        cellsOf(entries.value(QStringLiteral("xl/worksheets/sheet1.xml")),
                sharedStrings(entries.value(QStringLiteral("xl/sharedStrings.xml"))));
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const auto found = cells.find({int(r), int(c)});
            checkCell(rows[r][c], found == cells.end() ? nullptr : &found.value(),
                      QStringLiteral("row %1 column %2").arg(r).arg(c));
        }
    return 0;
}
