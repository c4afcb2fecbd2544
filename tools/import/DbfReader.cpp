// dBASE tables through the DBF part of shapelib.
#include "CodePage.h"
#include "LegacyTable.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
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

QString why() {
    return dbfMessages().isEmpty() ? QStringLiteral("unknown error")
                                   : dbfMessages().join(QStringLiteral("; "));
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

// Every record the header counts must be in the file.
void requireWholeFile(const QString& path, const DBFInfo& dbf) {
    const qint64 expected = qint64(dbf.nHeaderLength) + qint64(dbf.nRecords) * dbf.nRecordLength;
    const qint64 size = QFileInfo(path).size();
    if (dbf.nRecords < 0 || dbf.nRecordLength <= 0 || size < expected)
        throw ELegacyTable(
            QStringLiteral("the file is truncated or damaged (%1 bytes, its header needs %2)")
                .arg(size)
                .arg(expected));
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
        cell.problem = QStringLiteral("'%1' is not a number").arg(QString::fromLatin1(text));
    return cell;
}

LegacyCell dateCell(const QByteArray& text) {
    LegacyCell cell;
    const QDate date = QDate::fromString(QString::fromLatin1(text), QStringLiteral("yyyyMMdd"));
    if (!date.isValid())
        cell.problem =
            QStringLiteral("'%1' is not a date that exists").arg(QString::fromLatin1(text));
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
        cell.problem = QStringLiteral("'%1' is not a logical value").arg(QString::fromLatin1(text));
    return cell;
}

LegacyCell cellOf(DBFHandle dbf, int record, int field, LegacyType type) {
    if (DBFIsAttributeNULL(dbf, record, field))
        return {};
    const char* raw = DBFReadStringAttribute(dbf, record, field);
    if (!raw) {
        LegacyCell cell;
        cell.problem = QStringLiteral("the field cannot be read: %1").arg(why());
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

} // namespace

LegacyTable readDbfTable(const QString& path) {
    requireTableFile(path);
    dbfMessages().clear();
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    hooks.Error = collectDbfError;
    DbfFile dbf(DBFOpenLL(QFile::encodeName(path).constData(), "rb", &hooks));
    if (!dbf)
        throw ELegacyTable(QStringLiteral("not a dBASE table: %1").arg(why()));
    requireWholeFile(path, *dbf);

    LegacyTable table;
    table.path = path;
    table.codec = codecForDbfCodePage(QString::fromLatin1(DBFGetCodePage(dbf.get())));
    const int fields = DBFGetFieldCount(dbf.get());
    for (int i = 0; i < fields; ++i) {
        char name[XBASE_FLDNAME_LEN_READ + 1] = {};
        int width = 0, decimals = 0;
        DBFGetFieldInfo(dbf.get(), i, name, &width, &decimals);
        const char native = DBFGetNativeFieldType(dbf.get(), i);
        table.columns.append(
            {QString::fromLatin1(name), typeOf(native, decimals),
             QStringLiteral("%1(%2,%3)").arg(QChar(native)).arg(width).arg(decimals)});
    }
    const int records = DBFGetRecordCount(dbf.get());
    for (int record = 0; record < records; ++record) {
        LegacyRow row;
        row.number = record + 1;
        row.deleted = DBFIsRecordDeleted(dbf.get(), record);
        for (int i = 0; i < fields; ++i)
            row.cells.push_back(cellOf(dbf.get(), record, i, table.columns[i].type));
        table.rows.push_back(std::move(row));
    }
    return table;
}
