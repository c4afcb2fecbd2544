#include "report/SeparatedValues.h"

#include "platform/TextCodec.h"

QString quotedField(const QString& value, const QString& separator) {
    const bool needsQuotes = (!separator.isEmpty() && value.contains(separator)) ||
                             value.contains(QLatin1Char('"')) ||
                             value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'));
    if (!needsQuotes)
        return value;
    QString inner = value;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString separatedLine(const QStringList& values, const QString& separator) {
    QString line;
    for (const QString& value : values)
        line += quotedField(value, separator) + separator;
    return line;
}

EWriteError writeError(const QString& path, const QString& reason) {
    return EWriteError(
        QStringLiteral("No se pudo escribir el archivo \"%1\": %2").arg(path, reason));
}

void writeTextFile(const QString& path, const QStringList& lines) {
    QString reason;
    if (!writeCp1252Lines(path, lines, &reason))
        throw writeError(path, reason);
}
