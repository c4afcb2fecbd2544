#include "CodePage.h"

#include "LegacyTable.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

const QString kDefaultCodec = QStringLiteral("windows-1252");

// A numbered code page: the Windows ones by their Windows name, the DOS ones
// by their IBM name.
QString codecForNumber(int codePage) {
    if (codePage == 65001)
        return QStringLiteral("UTF-8");
    if (codePage >= 1250 && codePage <= 1258)
        return QStringLiteral("windows-%1").arg(codePage);
    return QStringLiteral("IBM%1").arg(codePage);
}

QString usableCodec(const QString& codec, const QString& named) {
    if (!QStringDecoder(codec.toLatin1().constData()).isValid())
        throw ELegacyTable(
            QStringLiteral("no se conoce la página de códigos '%1' de la tabla").arg(named));
    return codec;
}

// dBASE language driver bytes of the code pages a site may have used.
const QHash<int, int>& languageDrivers() {
    static const QHash<int, int> drivers = {
        {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x57, 1252}, {0x58, 1252}, {0x59, 1252},
        {0x64, 852},  {0x65, 866},  {0x66, 865},  {0x67, 861},  {0x6A, 737},  {0x6B, 857},
        {0x6C, 863},  {0x78, 950},  {0x79, 949},  {0x7A, 936},  {0x7B, 932},  {0x7C, 874},
        {0x7D, 1255}, {0x7E, 1256}, {0xC8, 1250}, {0xC9, 1251}, {0xCA, 1254}, {0xCB, 1253},
        {0xCC, 1257}, {0x0A, 850},  {0x0B, 437},  {0x0D, 437},  {0x0E, 850},  {0x0F, 437},
        {0x10, 850},  {0x11, 437},  {0x12, 850},  {0x13, 932},  {0x14, 850},  {0x15, 437},
        {0x16, 850},  {0x17, 865},  {0x18, 437},  {0x19, 437},  {0x1A, 850},  {0x1B, 437},
        {0x1C, 863},  {0x1D, 850},  {0x1F, 852},  {0x22, 852},  {0x23, 852},  {0x24, 860},
        {0x25, 850},  {0x26, 866},  {0x37, 850},  {0x40, 852},  {0x4D, 936},  {0x4E, 949},
        {0x4F, 950},  {0x50, 874},
    };
    return drivers;
}

} // namespace

QString codecForParadoxCodePage(int codePage) {
    if (codePage <= 0)
        return kDefaultCodec;
    return usableCodec(codecForNumber(codePage), QString::number(codePage));
}

QString codecForDbfCodePage(const QString& description) {
    const QString text = description.trimmed();
    if (text.isEmpty())
        return kDefaultCodec;
    if (text.startsWith(QLatin1String("LDID/"), Qt::CaseInsensitive)) {
        const int driver = text.mid(5).toInt();
        if (driver == 0)
            return kDefaultCodec;
        if (!languageDrivers().contains(driver))
            throw ELegacyTable(
                QStringLiteral("no se conoce el controlador de idioma %1 de la tabla").arg(driver));
        return usableCodec(codecForNumber(languageDrivers().value(driver)), text);
    }
    // A .cpg file: "1252", "CP1252", "ANSI 1252", "UTF-8", "ISO-8859-1" ...
    static const QRegularExpression numbered(QStringLiteral("^(?:CP|ANSI |OEM |WINDOWS-)?(\\d+)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = numbered.match(text);
    if (m.hasMatch())
        return usableCodec(codecForNumber(m.captured(1).toInt()), text);
    return usableCodec(text, text);
}

QString codecForChoice(const QString& text) {
    if (text.trimmed().isEmpty() || text.startsWith(QLatin1String("LDID/"), Qt::CaseInsensitive))
        throw ELegacyTable(QStringLiteral("no se conoce la página de códigos '%1'").arg(text));
    return codecForDbfCodePage(text);
}

bool decodeTableText(const QString& codec, const QByteArray& bytes, QString& text, int* replaced) {
    QStringDecoder decoder(codec.toLatin1().constData());
    text = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    // Undefined bytes come out as C1 controls or the replacement character;
    // typed names and texts never hold them.
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x7F && u <= 0x9F) || u == 0xFFFD)
            return false;
        if (u < 0x20) {
            c = QLatin1Char(' ');
            if (replaced)
                ++*replaced;
        }
    }
    return true;
}
