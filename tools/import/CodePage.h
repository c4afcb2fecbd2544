#pragma once

#include <QByteArray>
#include <QString>

// The code page a table file names, as a QStringDecoder name; Windows-1252
// when the file names none.
QString codecForParadoxCodePage(int codePage);
// shapelib's description: "LDID/87" (the language driver byte) or the text of
// a .cpg file ("1252", "UTF-8", "CP850"); empty when the file says nothing.
QString codecForDbfCodePage(const QString& description);

// Decodes text of a table. False when the bytes are not text in that code
// page: undecodable, or control characters that no typed text contains.
bool decodeTableText(const QString& codec, const QByteArray& bytes, QString& text);
