// The separated-values export: rows of arbitrary cell texts written as the
// ticket export writes them (each value quoted as needed and followed by the
// one-character separator, Windows-1252, CR LF), then the file read back as
// separated values. Input: the separator byte, then rows separated by 0x1E
// and cells by 0x1F, each cell Windows-1252.
//
// Property: the file reads back as the same rows and cells. A separator of a
// double quote, CR or LF cannot be read back by anyone and is not tried.

#include "FuzzSupport.h"
#include "platform/TextCodec.h"
#include "report/SeparatedValues.h"

namespace {

using Rows = QList<QStringList>;

// Reads separated values: a field is quoted ("" inside for a quote) or runs
// to the next separator; every field is followed by the separator, and CR LF
// after a separator (or at the start of a row) ends the row.
class Reader {
public:
    Reader(QString text, QString separator)
        : m_text(std::move(text)), m_sep(std::move(separator)) {}

    Rows rows() {
        Rows rows;
        QStringList row;
        while (m_at < m_text.size()) {
            if (take(QStringLiteral("\r\n"))) {
                rows << row;
                row.clear();
                continue;
            }
            row << field();
            fuzz::check(take(m_sep), "every field is followed by the separator", m_text);
        }
        fuzz::check(row.isEmpty(), "the last row ends with CR LF", m_text);
        return rows;
    }

private:
    bool take(const QString& what) {
        if (!QStringView(m_text).mid(m_at).startsWith(what))
            return false;
        m_at += what.size();
        return true;
    }

    QString field() {
        QString value;
        if (!take(QStringLiteral("\""))) {
            while (m_at < m_text.size() && !QStringView(m_text).mid(m_at).startsWith(m_sep) &&
                   m_text.at(m_at) != QLatin1Char('\r'))
                value += m_text.at(m_at++);
            return value;
        }
        for (;;) {
            fuzz::check(m_at < m_text.size(), "a quoted field is closed", m_text);
            if (take(QStringLiteral("\"\"")))
                value += QLatin1Char('"');
            else if (take(QStringLiteral("\"")))
                return value;
            else
                value += m_text.at(m_at++);
        }
    }

    QString m_text;
    QString m_sep;
    qsizetype m_at = 0;
};

Rows rowsOf(fuzz::Input& in) {
    Rows rows;
    while (!in.empty()) {
        const QByteArray row = in.until('\x1e');
        QStringList cells;
        for (const QByteArray& cell : row.split('\x1f'))
            cells << fromCp1252(cell);
        rows << cells;
    }
    return rows;
}

QString shown(const Rows& rows) {
    QString out;
    for (const QStringList& row : rows)
        out += QStringLiteral("[") + row.join(QStringLiteral("|")) + QStringLiteral("]\n");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const QString separator = fromCp1252(QByteArray(1, char(in.byte())));
    if (separator == QLatin1String("\"") || separator == QLatin1String("\r") ||
        separator == QLatin1String("\n"))
        return 0;
    const Rows rows = rowsOf(in);
    QStringList lines;
    for (const QStringList& row : rows)
        lines << separatedLine(row, separator);
    const QString path = fuzz::scratch(QStringLiteral("export.csv"));
    writeTextFile(path, lines);
    const Rows back = Reader(fromCp1252(fuzz::readFile(path)), separator).rows();
    fuzz::check(back == rows, "the export reads back as its cells",
                shown(rows) + QStringLiteral("--- read back:\n") + shown(back));
    return 0;
}
