#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The text file behind TRegistry, held as a document: keys in file order, each
// with its values in file order. Names match without regard to case.
namespace regfile {

enum class ValueType { Dword, Binary, String, Other };

struct Value {
    QString name; // empty for the default value "@"
    ValueType type = ValueType::String;
    quint32 dword = 0;
    QString text;      // String
    QByteArray bytes;  // Binary and Other
    int otherType = 0; // Other: the registry type code of "hex(N):"
};

struct Key {
    QString path; // as written: "HKEY_CURRENT_USER\Software\..."
    QList<Value> values;

    const Value* find(const QString& name) const;
    // Replaces a value of the same name (keeping its place and spelling) or appends.
    void set(Value value);
};

// REGEDIT4 is single-byte Windows-1252; a "Version 5.00" export is UTF-16LE
// and its hex(2)/hex(7) data is UTF-16 too, so a document remembers which it was.
enum class Format { Regedit4, Unicode5 };

struct Document {
    Format format = Format::Regedit4;
    QList<Key> keys;

    const Key* find(const QString& path) const;
    Key& ensure(const QString& path);
};

// Where a file stops being a registry file: its line (1 is the first; 0: the
// file as a whole) and what is wrong there, for a person.
struct ParseError {
    int line = 0;
    QString what;
};

// nullopt when the bytes are not a registry file (error says where and why).
// Blank content is an empty document.
std::optional<Document> parse(const QByteArray& bytes, ParseError* error = nullptr);
QByteArray serialize(const Document& document);

// True when every text of the document can be written in Windows-1252 and
// reads back unchanged from those bytes.
bool fitsSingleByte(const Document& document);
// Turns a REGEDIT4 document into the UTF-16 "Version 5.00" format.
void widenToUnicode(Document& document);

// The text of a hex(1)/hex(2) value in the document's encoding, up to its terminator.
QString otherAsText(const Value& value, Format format);
// A text as hex(1) data in the document's encoding, with its terminator.
QByteArray textAsOther(const QString& text, Format format);

enum class LoadStatus { Loaded, Absent, Invalid, Unreadable };

struct Loaded {
    LoadStatus status = LoadStatus::Absent;
    Document document;
    ParseError error; // Invalid: where and why
};

// Reads the file. One that cannot be parsed is Invalid (error says where and
// why), one that cannot be read Unreadable; neither may be written over, and
// the file is never moved.
Loaded load(const QString& path);

// Whether the document holds a password: then its file is its owner's alone.
bool holdsPassword(const Document& document);

// Writes the whole document to a temporary file, flushes it and renames it over
// the old one; creates the directory when missing. A REGEDIT4 document holding
// text that Windows-1252 cannot hold is widened to the UTF-16 format first. A
// document that holds a password is written readable by its owner only.
bool save(const QString& path, Document& document);

} // namespace regfile
