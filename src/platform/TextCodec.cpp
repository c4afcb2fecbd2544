#include "platform/TextCodec.h"

#include "platform/DiskSync.h"
#include "platform/OwnerOnly.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

// The byte of a character outside Latin-1 that Windows-1252 holds; '?' for
// any other, as Windows' own conversion writes it (so nothing vanishes).
char cp1252HighByte(char16_t c) {
    static const QHash<char16_t, char> bytes{
        {u'\u20AC', '\x80'},
        {u'\u201A', '\x82'},
        {u'\u0192', '\x83'},
        {u'\u201E', '\x84'},
        {u'\u2026', '\x85'},
        {u'\u2020', '\x86'},
        {u'\u2021', '\x87'},
        {u'\u02C6', '\x88'},
        {u'\u2030', '\x89'},
        {u'\u0160', '\x8A'},
        {u'\u2039', '\x8B'},
        {u'\u0152', '\x8C'},
        {u'\u017D', '\x8E'},
        {u'\u2018', '\x91'},
        {u'\u2019', '\x92'},
        {u'\u201C', '\x93'},
        {u'\u201D', '\x94'},
        {u'\u2022', '\x95'},
        {u'\u2013', '\x96'},
        {u'\u2014', '\x97'},
        {u'\u02DC', '\x98'},
        {u'\u2122', '\x99'},
        {u'\u0161', '\x9A'},
        {u'\u203A', '\x9B'},
        {u'\u0153', '\x9C'},
        {u'\u017E', '\x9E'},
        {u'\u0178', '\x9F'},
        // the five bytes Windows-1252 leaves undefined read back as these
        {u'\u0081', '\x81'},
        {u'\u008D', '\x8D'},
        {u'\u008F', '\x8F'},
        {u'\u0090', '\x90'},
        {u'\u009D', '\x9D'}};
    return bytes.value(c, '?');
}

} // namespace

QByteArray toCp1252(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        bytes += u < 0x80 || (u >= 0xA0 && u <= 0xFF) ? char(u) : cp1252HighByte(u);
    }
    return bytes;
}

QString fromCp1252(const QByteArray& bytes) {
    QStringDecoder decoder("windows-1252");
    return decoder.decode(bytes);
}

bool readCp1252Lines(const QString& path, QStringList& lines) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    lines.clear();
    if (content.isEmpty())
        return true;
    const QList<QByteArray> raw = content.split('\n');
    for (qsizetype i = 0; i < raw.size(); ++i) {
        QByteArray line = raw[i];
        if (line.endsWith('\r'))
            line.chop(1);
        // A final line end does not start another line.
        if (i == raw.size() - 1 && line.isEmpty())
            break;
        lines << fromCp1252(line);
    }
    return true;
}

bool commitSaveFile(QSaveFile& file) {
    // An uncommitted save file removes its temporary file when it goes.
    if (!file.flush() || !file.commit())
        return false;
    // The rename itself is on the disk only once its folder is.
    flushFolderToDisk(QFileInfo(file.fileName()).absolutePath());
    return true;
}

bool writeCp1252Lines(const QString& path, const QStringList& lines, QString* error,
                      bool ownerOnly) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly) && (!ownerOnly || keepToOwner(file));
    for (qsizetype i = 0; written && i < lines.size(); ++i)
        written = file.write(toCp1252(lines[i]) + "\r\n") >= 0;
    if (!written || !commitSaveFile(file)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // The replacement keeps the old file's permission; one its owner could not
    // read would fail the same way at every start.
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const QFileDevice::Permissions now = QFile::permissions(path);
    if ((now & owner) == owner || QFile::setPermissions(path, now | owner))
        return true;
    if (error)
        *error = QStringLiteral("Cannot make the file readable by its owner");
    return false;
}
