// The single-byte text files the station reads at start-up: "dbAlias.txt"
// (local and server alias) and "dbLogin.txt" (the server login's parameter
// lines), and the line writer every text file of the station goes through.
//
// Properties: the alias names are the first two lines, taken whole; the
// parameter lines are the file's lines without their line ends; lines
// written and read again are the same lines.

#include "FuzzSupport.h"
#include "platform/TextCodec.h"
#include "store/Aliases.h"
#include "store/Session.h"

namespace {

// The file's lines split at LF, one CR before it dropped, no line after a
// final line end.
QStringList referenceLines(const QByteArray& bytes) {
    QList<QByteArray> raw = bytes.split('\n');
    if (raw.last().isEmpty() || raw.last() == "\r")
        raw.removeLast();
    QStringList lines;
    for (QByteArray line : raw) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines << fromCp1252(line);
    }
    return lines;
}

QString shown(const QStringList& lines) {
    QString out;
    for (const QString& line : lines)
        out += QStringLiteral("[%1]").arg(QString::fromLatin1(toCp1252(line).toHex()));
    return out;
}

void checkAliasFile(const QString& path, const QStringList& lines) {
    const AliasNames names = readAliasFile(path);
    fuzz::check(names.local == lines.value(0) && names.server == lines.value(1),
                "the aliases are the first two lines, whole", shown(lines));
}

void checkLoginFile(const QString& path, const QStringList& lines) {
    static TSession session;
    TDatabase database(session);
    database.LoadParamsFromFile(path);
    fuzz::check(database.Params == lines, "the parameter lines are the file's lines",
                shown(lines) + QStringLiteral(" read ") + shown(database.Params));
    const QString again = fuzz::scratch(QStringLiteral("written.txt"));
    database.SaveParamsToFile(again);
    TDatabase reread(session);
    reread.LoadParamsFromFile(again);
    fuzz::check(reread.Params == lines, "written lines read back the same",
                shown(lines) + QStringLiteral(" read back ") + shown(reread.Params));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString path = fuzz::scratch(QStringLiteral("dbLogin.txt"));
    fuzz::writeFile(path, bytes);
    const QStringList lines = bytes.isEmpty() ? QStringList() : referenceLines(bytes);
    checkAliasFile(path, lines);
    checkLoginFile(path, lines);
    return 0;
}
