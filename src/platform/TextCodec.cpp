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
    QStringEncoder encoder("windows-1252");
    bool written = file.open(QIODevice::WriteOnly);
    for (qsizetype i = 0; written && i < lines.size(); ++i)
        written = file.write(QByteArray(encoder.encode(lines[i])) + "\r\n") >= 0;
    // An unfinished QSaveFile discards its temporary file when it goes.
    if (written && commitSaveFile(file))
        return true;
    if (error)
        *error = file.errorString();
    return false;
}
