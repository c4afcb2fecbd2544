#pragma once

#include <QByteArray>
#include <QString>

// The code page a table file names, as a QStringDecoder name; Windows-1252
// when the file names none.
QString codecForParadoxCodePage(int codePage);
// shapelib's description: "LDID/87" (the language driver byte) or the text of
// a .cpg file ("1252", "UTF-8", "CP850"); empty when the file says nothing.
QString codecForDbfCodePage(const QString& description);

// The code page a user names: a number ("850", "1252") or a name ("CP850",
// "UTF-8"), as a QStringDecoder name. Raises ELegacyTable when it is not known.
QString codecForChoice(const QString& text);

// Decodes text of a table. False when the bytes are not text in that code
// page: undecodable, or characters that only undefined bytes give (C1
// controls, the replacement character). C0 control characters (TAB, CR, LF
// ...) are typed, if seldom: each becomes a space, and `replaced` counts them.
bool decodeTableText(const QString& codec, const QByteArray& bytes, QString& text,
                     int* replaced = nullptr);
