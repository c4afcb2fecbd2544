// The registry file reader: REGEDIT4 and UTF-16 "Version 5.00" exports,
// dword:, hex: and hex(n): values, escapes, continued hex lists, any bytes.
//
// Property: a document the reader accepts, written as the store writes it
// (widened to UTF-16 when Windows-1252 cannot hold its text), reads back as
// the same document, and writing that again gives the same bytes: a save
// never changes a key, a value or a text it did not mean to change.

#include "FuzzSupport.h"
#include "platform/RegistryFile.h"

namespace {

QString describe(const regfile::Document& d) {
    QString out = d.format == regfile::Format::Unicode5 ? "Unicode5\n" : "Regedit4\n";
    for (const regfile::Key& key : d.keys) {
        out += QStringLiteral("[%1]\n").arg(key.path);
        for (const regfile::Value& v : key.values)
            out += QStringLiteral("  \"%1\" type %2/%3 dword %4 text \"%5\" bytes %6\n")
                       .arg(v.name)
                       .arg(int(v.type))
                       .arg(v.otherType)
                       .arg(v.dword)
                       .arg(v.text, QString::fromLatin1(v.bytes.toHex()));
    }
    return out;
}

bool sameValue(const regfile::Value& a, const regfile::Value& b) {
    return a.name == b.name && a.type == b.type && a.dword == b.dword && a.text == b.text &&
           a.bytes == b.bytes && a.otherType == b.otherType;
}

bool sameDocument(const regfile::Document& a, const regfile::Document& b) {
    if (a.format != b.format || a.keys.size() != b.keys.size())
        return false;
    for (qsizetype k = 0; k < a.keys.size(); ++k) {
        const regfile::Key& x = a.keys.at(k);
        const regfile::Key& y = b.keys.at(k);
        if (x.path != y.path || x.values.size() != y.values.size())
            return false;
        for (qsizetype v = 0; v < x.values.size(); ++v)
            if (!sameValue(x.values.at(v), y.values.at(v)))
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<regfile::Document> document = regfile::parse(fuzz::bytesOf(data, size));
    if (!document)
        return 0;
    // What save() does before it writes.
    if (!regfile::fitsSingleByte(*document))
        regfile::widenToUnicode(*document);
    const QByteArray written = regfile::serialize(*document);
    const std::optional<regfile::Document> reread = regfile::parse(written);
    fuzz::check(reread.has_value(), "a written document can be read",
                QString::fromLatin1(written.toHex()));
    fuzz::check(sameDocument(*document, *reread), "a written document reads back the same",
                describe(*document) + QStringLiteral("--- read back:\n") + describe(*reread));
    fuzz::check(regfile::serialize(*reread) == written, "writing again gives the same bytes");
    return 0;
}
