#include "platform/RegistryFile.h"

#include "platform/OwnerOnly.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>

namespace regfile {

namespace {

const QString kHeader4 = QStringLiteral("REGEDIT4");
const QString kHeader5 = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kEol = QStringLiteral("\r\n");

// Registry type codes of the values that hold text, binary data and a DWORD.
constexpr int kRegSz = 1;
constexpr int kRegExpandSz = 2;
constexpr int kRegBinary = 3;
constexpr int kRegDword = 4;
constexpr int kRegMultiSz = 7;

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// ---- reading ---------------------------------------------------------------

QString decodeWith(QStringDecoder::Encoding encoding, const QByteArray& bytes) {
    QStringDecoder decoder(encoding);
    return decoder.decode(bytes);
}

// Windows exports are UTF-16LE with a byte-order mark; older and hand-made
// files are single-byte or UTF-8. Text with NUL characters is not a registry file.
std::optional<QString> decodeText(const QByteArray& bytes) {
    QString text;
    if (bytes.startsWith("\xFF\xFE"))
        text = decodeWith(QStringDecoder::Utf16LE, bytes.mid(2));
    else if (bytes.startsWith("\xFE\xFF"))
        text = decodeWith(QStringDecoder::Utf16BE, bytes.mid(2));
    else if (bytes.startsWith("\xEF\xBB\xBF"))
        text = decodeWith(QStringDecoder::Utf8, bytes.mid(3));
    else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0')
        text = decodeWith(QStringDecoder::Utf16LE, bytes);
    else if (bytes.contains('\0'))
        return std::nullopt;
    else {
        QStringDecoder utf8(QStringDecoder::Utf8);
        text = utf8.decode(bytes);
        if (utf8.hasError())
            text = fromCp1252(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    if (text.contains(QChar(0)))
        return std::nullopt;
    return text;
}

QStringList splitLines(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

// A quoted name or string starting at `pos` (on the opening quote): "\\" and
// "\"" are the escapes. Returns the position after the closing quote, or -1.
qsizetype parseQuoted(const QString& line, qsizetype pos, QString& out) {
    out.clear();
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"'))
            return i + 1;
        if (c == QLatin1Char('\\') && i + 1 < line.size() &&
            (line[i + 1] == QLatin1Char('\\') || line[i + 1] == QLatin1Char('"')))
            ++i;
        out += line[i];
    }
    return -1;
}

std::optional<QByteArray> parseHexList(const QString& list) {
    QByteArray bytes;
    const QStringList items = list.split(QLatin1Char(','));
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString item = items[i].trimmed();
        if (item.isEmpty() && i == items.size() - 1)
            break; // an empty list or a trailing comma
        bool ok = false;
        const uint byte = item.toUInt(&ok, 16);
        if (!ok || item.size() > 2)
            return std::nullopt;
        bytes.append(static_cast<char>(byte));
    }
    return bytes;
}

std::optional<Value> parseString(const QString& data) {
    Value value;
    value.type = ValueType::String;
    const qsizetype end = parseQuoted(data, 0, value.text);
    if (end < 0 || !data.mid(end).trimmed().isEmpty())
        return std::nullopt;
    return value;
}

std::optional<Value> parseDword(const QString& digits) {
    bool ok = false;
    const uint number = digits.toUInt(&ok, 16);
    if (!ok || digits.size() > 8)
        return std::nullopt;
    Value value;
    value.type = ValueType::Dword;
    value.dword = number;
    return value;
}

// Exports also spell binary data as "hex(3):" and a DWORD as "hex(4):" with its
// four bytes little-endian; such values mean what "hex:" and "dword:" mean.
Value spelledOut(Value value) {
    if (value.type != ValueType::Other)
        return value;
    if (value.otherType == kRegBinary) {
        value.type = ValueType::Binary;
        value.otherType = 0;
    } else if (value.otherType == kRegDword && value.bytes.size() == 4) {
        value.type = ValueType::Dword;
        value.dword = qFromLittleEndian<quint32>(value.bytes.constData());
        value.bytes.clear();
        value.otherType = 0;
    }
    return value;
}

// "hex:..." is REG_BINARY; "hex(N):..." any other type, kept as its bytes.
std::optional<Value> parseHex(const QString& data) {
    Value value;
    value.type = ValueType::Binary;
    qsizetype colon = data.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return std::nullopt;
    const QString head = data.left(colon).toLower();
    if (head != QLatin1String("hex")) {
        if (!head.startsWith(QLatin1String("hex(")) || !head.endsWith(QLatin1Char(')')))
            return std::nullopt;
        bool ok = false;
        value.otherType = head.mid(4, head.size() - 5).toInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        value.type = ValueType::Other;
    }
    const auto bytes = parseHexList(data.mid(colon + 1));
    if (!bytes)
        return std::nullopt;
    value.bytes = *bytes;
    return spelledOut(value);
}

// The data after "=". A lone "-" (delete this value) yields a value of no
// name that the caller drops.
std::optional<Value> parseData(const QString& data) {
    if (data.startsWith(QLatin1Char('"')))
        return parseString(data);
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive))
        return parseDword(data.mid(6));
    if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive))
        return parseHex(data);
    return std::nullopt;
}

// Parses the body after the header line. False on a line that is none of a
// key, a value, a comment or a blank, with the line and what is wrong with it.
bool parseBody(const QStringList& lines, qsizetype first, Document& document, ParseError& error) {
    Key* current = nullptr;
    bool deletedKey = false;
    const auto bad = [&](qsizetype i, const char* what) {
        error = ParseError{int(i) + 1, QString::fromUtf8(what)};
        return false;
    };
    for (qsizetype i = first; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')) || line.size() < 3)
                return bad(i, "una clave debe terminar en \"]\"");
            const QString path = line.mid(1, line.size() - 2);
            // "[-key]" asks an import to delete the key; a store has nothing to delete.
            deletedKey = path.startsWith(QLatin1Char('-'));
            current = deletedKey ? nullptr : &document.ensure(path);
            continue;
        }
        QString name;
        qsizetype pos = 1;
        if (line.startsWith(QLatin1Char('"')))
            pos = parseQuoted(line, 0, name);
        else if (!line.startsWith(QLatin1Char('@')))
            return bad(i, "no es una clave, un valor ni un comentario");
        if (pos < 0)
            return bad(i, "falta la comilla que cierra el nombre del valor");
        const qsizetype equals = line.indexOf(QLatin1Char('='), pos);
        if (equals < 0 || !line.mid(pos, equals - pos).trimmed().isEmpty())
            return bad(i, "falta \"=\" después del nombre del valor");
        const qsizetype valueLine = i;
        QString data = line.mid(equals + 1).trimmed();
        // Long hex lists go on over several lines, each but the last ending in "\".
        if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            while (data.endsWith(QLatin1Char('\\')) && i + 1 < lines.size())
                data = data.chopped(1) + lines[++i].trimmed();
        }
        if (deletedKey)
            continue;
        if (!current)
            return bad(valueLine, "un valor antes de la primera clave");
        if (data == QLatin1String("-"))
            continue;
        auto value = parseData(data);
        if (!value)
            return bad(valueLine, "el dato del valor no es un texto entre comillas, dword: ni "
                                  "hex: válido");
        value->name = name;
        current->set(*value);
    }
    return true;
}

// ---- writing ---------------------------------------------------------------

QString escaped(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return out;
}

// Hex lists are wrapped as regedit does: a trailing "\" and an indent of two.
QString hexList(QString line, const QByteArray& bytes) {
    qsizetype width = line.size();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            line += QLatin1Char(',');
            ++width;
            if (width + 3 > 79) {
                line += QLatin1String("\\") + kEol + QLatin1String("  ");
                width = 2;
            }
        }
        line += QStringLiteral("%1").arg(static_cast<uchar>(bytes[i]), 2, 16, QLatin1Char('0'));
        width += 2;
    }
    return line;
}

QString valueLine(const Value& value) {
    const QString name =
        value.name.isEmpty() ? QStringLiteral("@=") : '"' + escaped(value.name) + "\"=";
    switch (value.type) {
    case ValueType::String:
        return name + '"' + escaped(value.text) + '"';
    case ValueType::Dword:
        return name + QStringLiteral("dword:%1").arg(value.dword, 8, 16, QLatin1Char('0'));
    case ValueType::Binary:
        return hexList(name + QStringLiteral("hex:"), value.bytes);
    case ValueType::Other:
        return hexList(name + QStringLiteral("hex(%1):").arg(value.otherType, 0, 16), value.bytes);
    }
    return name;
}

QString documentText(const Document& document) {
    QString text = (document.format == Format::Unicode5 ? kHeader5 : kHeader4) + kEol;
    for (const Key& key : document.keys) {
        text += kEol + QLatin1Char('[') + key.path + QLatin1Char(']') + kEol;
        for (const Value& value : key.values)
            text += valueLine(value) + kEol;
    }
    return text + kEol;
}

QByteArray encodeText(const QString& text, Format format) {
    if (format == Format::Regedit4)
        return toCp1252(text);
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return QByteArray("\xFF\xFE") + QByteArray(encoder.encode(text));
}

// ---- the file ----------------------------------------------------------------

} // namespace

const Value* Key::find(const QString& name) const {
    for (const Value& value : values) {
        if (sameName(value.name, name))
            return &value;
    }
    return nullptr;
}

void Key::set(Value value) {
    for (Value& existing : values) {
        if (sameName(existing.name, value.name)) {
            value.name = existing.name;
            existing = std::move(value);
            return;
        }
    }
    values.append(std::move(value));
}

const Key* Document::find(const QString& path) const {
    for (const Key& key : keys) {
        if (sameName(key.path, path))
            return &key;
    }
    return nullptr;
}

Key& Document::ensure(const QString& path) {
    for (Key& key : keys) {
        if (sameName(key.path, path))
            return key;
    }
    keys.append(Key{path, {}});
    return keys.last();
}

std::optional<Document> parse(const QByteArray& bytes, ParseError* error) {
    ParseError found;
    const auto fail = [&](ParseError why) {
        if (error)
            *error = std::move(why);
        return std::nullopt;
    };
    const auto text = decodeText(bytes);
    if (!text)
        return fail({0, QStringLiteral("no es un archivo de texto")});
    const QStringList lines = splitLines(*text);
    qsizetype first = 0;
    while (first < lines.size() && lines[first].trimmed().isEmpty())
        ++first;
    Document document;
    if (first == lines.size())
        return document;
    const QString header = lines[first].trimmed();
    if (header == kHeader5)
        document.format = Format::Unicode5;
    else if (header != kHeader4)
        return fail({int(first) + 1, QStringLiteral("la primera línea debe ser REGEDIT4 o "
                                                    "Windows Registry Editor Version 5.00")});
    if (!parseBody(lines, first + 1, document, found))
        return fail(found);
    return document;
}

QByteArray serialize(const Document& document) {
    return encodeText(documentText(document), document.format);
}

// The single-byte file must also read back as this text: bytes that happen
// to form UTF-8 ("Ã©" is C3 A9) would be read as UTF-8 ("é").
bool fitsSingleByte(const Document& document) {
    const QString text = documentText(document);
    return decodeText(toCp1252(text)) == text;
}

// The text values held as hex data change their encoding with the format.
void widenToUnicode(Document& document) {
    if (document.format == Format::Unicode5)
        return;
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    for (Key& key : document.keys) {
        for (Value& value : key.values) {
            if (value.type == ValueType::Other &&
                (value.otherType == kRegSz || value.otherType == kRegExpandSz ||
                 value.otherType == kRegMultiSz))
                value.bytes = utf16.encode(fromCp1252(value.bytes));
        }
    }
    document.format = Format::Unicode5;
}

QString otherAsText(const Value& value, Format format) {
    QString text = format == Format::Unicode5 ? decodeWith(QStringDecoder::Utf16LE, value.bytes)
                                              : fromCp1252(value.bytes);
    const qsizetype end = text.indexOf(QChar(0));
    return end < 0 ? text : text.left(end);
}

QByteArray textAsOther(const QString& text, Format format) {
    if (format == Format::Regedit4)
        return toCp1252(text) + QByteArray(1, '\0');
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return QByteArray(encoder.encode(text)) + QByteArray(2, '\0');
}

Loaded load(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return {LoadStatus::Absent, {}, {}};
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return {LoadStatus::Unreadable, {}, {}};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {LoadStatus::Unreadable, {}, {}};
    file.close();
    ParseError error;
    if (auto document = parse(bytes, &error))
        return {LoadStatus::Loaded, *document, {}};
    // Never moved nor written over: the administrator's typo is put right by hand.
    return {LoadStatus::Invalid, {}, error};
}

// A value named "...Clave" holds a password ("SmtpClave", the mail relay's).
bool holdsPassword(const Document& document) {
    for (const Key& key : document.keys)
        for (const Value& value : key.values)
            if (value.name.endsWith(QLatin1String("Clave"), Qt::CaseInsensitive) &&
                !(value.type == ValueType::String ? value.text.isEmpty() : value.bytes.isEmpty()))
                return true;
    return false;
}

bool save(const QString& path, Document& document) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // A text that Windows-1252 cannot hold is never changed silently: the file
    // goes over to the UTF-16 export format, which holds every text.
    if (!fitsSingleByte(document))
        widenToUnicode(document);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || (holdsPassword(document) && !keepToOwner(file)))
        return false;
    const QByteArray bytes = serialize(document);
    if (file.write(bytes) != bytes.size())
        return false;
    return commitSaveFile(file);
}

} // namespace regfile
