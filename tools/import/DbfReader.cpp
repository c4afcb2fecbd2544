// dBASE tables through the DBF part of shapelib.
#include "CodePage.h"
#include "LegacyTable.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <climits>
#include <memory>
#include <shapefil.h>

namespace {

// shapelib reports through a hook without user data; the tool reads one
// table at a time on one thread.
QStringList& dbfMessages() {
    static QStringList messages;
    return messages;
}

void collectDbfError(const char* message) {
    dbfMessages() << QString::fromLocal8Bit(message).trimmed();
}

struct DbfCloser {
    void operator()(DBFInfo* dbf) const { DBFClose(dbf); }
};
using DbfFile = std::unique_ptr<DBFInfo, DbfCloser>;

QString why(const QString& path = {}) {
    if (!dbfMessages().isEmpty())
        return dbfMessages().join(QStringLiteral("; "));
    const QString system = path.isEmpty() ? QString() : openProblem(path);
    return system.isEmpty() ? QStringLiteral("shapelib no da el motivo") : system;
}

LegacyType typeOf(char native, int decimals) {
    switch (native) {
    case 'C':
        return LegacyType::Text;
    case 'N':
    case 'F':
        return decimals == 0 ? LegacyType::Integer : LegacyType::Float;
    case 'L':
        return LegacyType::Logical;
    case 'D':
        return LegacyType::Date;
    default:
        return LegacyType::Unsupported;
    }
}

constexpr char kEndOfFile = 0x1A;

// Every record the header counts must be in the file; records past the count
// are read when they are whole (each begins with its deletion flag, ' ' or
// '*'), and said. Anything else past the count refuses the table.
void agreeWithHeader(const QString& path, DBFInfo& dbf, QStringList& notes) {
    const qint64 expected = qint64(dbf.nHeaderLength) + qint64(dbf.nRecords) * dbf.nRecordLength;
    const qint64 size = QFileInfo(path).size();
    if (dbf.nRecords < 0 || dbf.nRecordLength <= 0 || size < expected)
        throw ELegacyTable(
            QStringLiteral("el archivo está truncado o dañado (%1 bytes; su cabecera requiere %2)")
                .arg(size)
                .arg(expected));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ELegacyTable(
            QStringLiteral("no se puede leer el archivo: %1").arg(file.errorString()));
    // The byte at a position, read alone: the rows past the count may be many.
    auto byteAt = [&file](qint64 position) {
        char byte = 0;
        return file.seek(position) && file.getChar(&byte) ? byte : '\0';
    };
    qint64 tail = size - expected;
    if (tail > 0 && byteAt(size - 1) == kEndOfFile)
        --tail;
    if (tail == 0)
        return;
    const qint64 extra = tail / dbf.nRecordLength;
    bool whole = tail % dbf.nRecordLength == 0 && qint64(dbf.nRecords) + extra <= INT_MAX;
    for (qint64 r = 0; whole && r < extra; ++r) {
        const char flag = byteAt(expected + r * dbf.nRecordLength);
        whole = flag == ' ' || flag == '*';
    }
    if (!whole)
        throw ELegacyTable(
            QStringLiteral("la cabecera cuenta %1 registros, pero el archivo tiene tras ellos %2 "
                           "bytes que no son registros completos: el archivo está dañado")
                .arg(dbf.nRecords)
                .arg(tail));
    notes << QStringLiteral("la cabecera cuenta %1 registros, pero el archivo tiene %2 registros "
                            "completos: se leen los %2")
                 .arg(dbf.nRecords)
                 .arg(dbf.nRecords + extra);
    dbf.nRecords = int(dbf.nRecords + extra);
}

// A number that did not fit its field is written as asterisks.
bool isOverflowMark(const QByteArray& text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c == '*'; });
}

LegacyCell numberCell(const QByteArray& text, LegacyType type) {
    LegacyCell cell;
    bool ok = false;
    if (type == LegacyType::Integer) {
        cell.value = text.toLongLong(&ok);
        // A whole-number column may still hold "12.0" written by another program.
        if (!ok) {
            const double real = text.toDouble(&ok);
            cell.value = real;
        }
    } else {
        cell.value = text.toDouble(&ok);
    }
    if (!ok)
        cell.problem = QStringLiteral("'%1' no es un número").arg(QString::fromLatin1(text));
    return cell;
}

LegacyCell dateCell(const QByteArray& text) {
    LegacyCell cell;
    const QDate date = QDate::fromString(QString::fromLatin1(text), QStringLiteral("yyyyMMdd"));
    if (!date.isValid())
        cell.problem =
            QStringLiteral("'%1' no es una fecha que exista").arg(QString::fromLatin1(text));
    cell.value = date;
    return cell;
}

LegacyCell logicalCell(const QByteArray& text) {
    LegacyCell cell;
    const char c = text.isEmpty() ? '?' : char(QChar::toUpper(uint(text[0])));
    if (c == 'T' || c == 'Y' || c == 'S')
        cell.value = true;
    else if (c == 'F' || c == 'N')
        cell.value = false;
    else if (c != '?' && c != ' ')
        cell.problem = QStringLiteral("'%1' no es un valor lógico").arg(QString::fromLatin1(text));
    return cell;
}

// shapelib takes asterisks for an empty number: the number was lost when the
// file was written, which the import must say.
bool isLostNumber(DBFHandle dbf, int record, int field, LegacyType type) {
    if (type != LegacyType::Integer && type != LegacyType::Float)
        return false;
    const char* raw = DBFReadStringAttribute(dbf, record, field);
    return raw && isOverflowMark(QByteArray(raw).trimmed());
}

constexpr int kLinesShown = 20;

LegacyCell cellOf(DBFHandle dbf, int record, int field, LegacyType type) {
    if (DBFIsAttributeNULL(dbf, record, field))
        return {};
    const char* raw = DBFReadStringAttribute(dbf, record, field);
    if (!raw) {
        LegacyCell cell;
        cell.problem = QStringLiteral("no se puede leer el campo: %1").arg(why());
        return cell;
    }
    const QByteArray text = QByteArray(raw).trimmed();
    switch (type) {
    case LegacyType::Text: {
        LegacyCell cell;
        // dBASE pads text with blanks; leading blanks were typed.
        QByteArray padded(raw);
        while (padded.endsWith(' '))
            padded.chop(1);
        cell.value = padded;
        return cell;
    }
    case LegacyType::Integer:
    case LegacyType::Float:
        return numberCell(text, type);
    case LegacyType::Logical:
        return logicalCell(text);
    case LegacyType::Date:
        return dateCell(text);
    default:
        return {QVariant(QByteArray(raw)), {}};
    }
}

// shapelib reads one record at a time from the open file: a batch costs
// only its own rows.
class DbfReader : public LegacyReader {
public:
    DbfReader(const QString& path, const QString& codec) {
        requireTableFile(path);
        dbfMessages().clear();
        SAHooks hooks;
        SASetupDefaultHooks(&hooks);
        hooks.Error = collectDbfError;
        m_dbf.reset(DBFOpenLL(QFile::encodeName(path).constData(), "rb", &hooks));
        if (!m_dbf)
            throw ELegacyTable(QStringLiteral("no es una tabla dBASE: %1").arg(why(path)));
        m_head.path = path;
        agreeWithHeader(path, *m_dbf, m_head.notes);
        if (!codec.isEmpty()) {
            m_head.codec = codec;
            m_head.codecOrigin = QStringLiteral("elegida con --codepage");
        } else {
            const QString named = QString::fromLatin1(DBFGetCodePage(m_dbf.get()));
            m_head.codec = codecForDbfCodePage(named);
            m_head.codecOrigin = named.trimmed().isEmpty() || named == QLatin1String("LDID/0")
                                     ? QStringLiteral("el archivo no indica ninguna")
                                     : QStringLiteral("indicada por el archivo (%1)").arg(named);
        }
        const int fields = DBFGetFieldCount(m_dbf.get());
        for (int i = 0; i < fields; ++i) {
            char name[XBASE_FLDNAME_LEN_READ + 1] = {};
            int width = 0, decimals = 0;
            DBFGetFieldInfo(m_dbf.get(), i, name, &width, &decimals);
            const char native = DBFGetNativeFieldType(m_dbf.get(), i);
            m_head.columns.append(
                {QString::fromLatin1(name), typeOf(native, decimals),
                 QStringLiteral("%1(%2,%3)").arg(QChar(native)).arg(width).arg(decimals)});
        }
        m_records = DBFGetRecordCount(m_dbf.get());
    }

    bool next(std::vector<LegacyRow>& rows) override {
        rows.clear();
        if (m_next >= m_records) {
            sayLostNumbers();
            return false;
        }
        const int end = std::min(m_records, m_next + kRowsPerBatch);
        for (; m_next < end; ++m_next)
            rows.push_back(rowOf(m_next));
        return true;
    }

private:
    LegacyRow rowOf(int record) {
        LegacyRow row;
        row.number = record + 1;
        row.deleted = DBFIsRecordDeleted(m_dbf.get(), record);
        for (int i = 0; i < m_head.columns.size(); ++i) {
            const LegacyType type = m_head.columns[i].type;
            if (!row.deleted && isLostNumber(m_dbf.get(), record, i, type) &&
                ++m_lost <= kLinesShown)
                m_trailing
                    << QStringLiteral(
                           "registro %1, campo %2: un número escrito como asteriscos (no cabía en "
                           "su campo cuando la estación anterior lo escribió): se importa vacío")
                           .arg(row.number)
                           .arg(m_head.columns[i].name);
            row.cells.push_back(cellOf(m_dbf.get(), record, i, type));
        }
        return row;
    }

    void sayLostNumbers() {
        if (m_lost > kLinesShown && !m_said)
            m_trailing << QStringLiteral(
                              "... y %1 números más escritos como asteriscos, importados vacíos")
                              .arg(m_lost - kLinesShown);
        m_said = true;
    }

    DbfFile m_dbf;
    int m_records = 0;
    int m_next = 0;
    int m_lost = 0;
    bool m_said = false;
};

} // namespace

std::unique_ptr<LegacyReader> openDbfTable(const QString& path, const QString& codec) {
    return std::make_unique<DbfReader>(path, codec);
}
