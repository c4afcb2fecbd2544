#include "platform/TextCodec.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

QByteArray toCp1252(const QString& text) {
    QStringEncoder encoder("windows-1252");
    return encoder.encode(text);
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
    return file.flush() && file.commit();
}

bool writeCp1252Lines(const QString& path, const QStringList& lines, QString* error) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
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
