#include "platform/Regional.h"

#include "platform/Clock.h"
#include "platform/Registry.h"

#include <QLocale>
#include <QRegularExpression>
#include <optional>

namespace {

const QString kInternationalKey = QStringLiteral("\\Control Panel\\International");

qsizetype runLength(const QString& text, qsizetype from) {
    qsizetype end = from + 1;
    while (end < text.size() && text[end] == text[from])
        ++end;
    return end - from;
}

// The first separator character of a locale format ("dd.MM.yyyy" gives '.').
QChar firstSeparator(const QString& format, QChar fallback) {
    for (const QChar c : format) {
        // Direction marks (as in Arabic formats) are not separators.
        if (!c.isLetter() && !c.isSpace() && c != QLatin1Char('\'') &&
            c.category() != QChar::Other_Format)
            return c;
    }
    return fallback;
}

// Qt's "AP"/"ap"/"A"/"a" are the AM/PM marker; with it, Qt's "h" is the 12-hour clock.
bool hasAmPm(QString qtFormat) {
    qtFormat.remove(QRegularExpression(QStringLiteral("'[^']*'")));
    return qtFormat.contains(QLatin1Char('A')) || qtFormat.contains(QLatin1Char('a'));
}

// Leaves out the time zone field at `i`, with the brackets some locales put
// around it ("H:mm:ss (t)").
void dropTimeZone(QString& picture, const QString& qtFormat, qsizetype& i, qsizetype run) {
    picture = picture.trimmed();
    const bool bracketed = picture.endsWith(QLatin1Char('('));
    if (bracketed)
        picture.chop(1);
    i += run;
    if (bracketed && i < qtFormat.size() && qtFormat[i] == QLatin1Char(')'))
        ++i;
}

// Converts a Qt locale format to a Windows picture: every year becomes four
// digits, the time zone ("t") and milliseconds ("z") go, "AP" becomes "tt",
// and the locale's date separator becomes "/".
QString pictureFromQt(const QString& qtFormat, QChar dateSeparator) {
    const bool twelveHour = hasAmPm(qtFormat);
    QString picture;
    for (qsizetype i = 0; i < qtFormat.size();) {
        const QChar c = qtFormat[i];
        if (c == QLatin1Char('\'')) {
            qsizetype close = qtFormat.indexOf(QLatin1Char('\''), i + 1);
            close = close < 0 ? qtFormat.size() - 1 : close;
            picture += qtFormat.mid(i, close - i + 1);
            i = close + 1;
            continue;
        }
        const qsizetype run = runLength(qtFormat, i);
        switch (c.unicode()) {
        case 'y':
            picture += QStringLiteral("yyyy");
            break;
        case 'h':
            picture += QString(run, twelveHour ? QLatin1Char('h') : QLatin1Char('H'));
            break;
        case 'A':
        case 'a':
            picture += QStringLiteral("tt");
            if (i + 1 < qtFormat.size() && qtFormat[i + 1].toLower() == QLatin1Char('p'))
                ++i;
            break;
        case 't':
            dropTimeZone(picture, qtFormat, i, run);
            continue;
        case 'z':
            break;
        default:
            picture += QString(run, c == dateSeparator ? QLatin1Char('/') : c);
        }
        i += run;
    }
    return picture.simplified();
}

FormatSettings fromLocale(const QLocale& locale) {
    FormatSettings settings;
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    const QString longTime = locale.timeFormat(QLocale::LongFormat);
    settings.dateSeparator = firstSeparator(shortDate, QLatin1Char('/'));
    settings.timeSeparator = firstSeparator(longTime, QLatin1Char(':'));
    settings.shortDateFormat = pictureFromQt(shortDate, settings.dateSeparator);
    settings.longTimeFormat = pictureFromQt(longTime, QChar());
    settings.decimalSeparator =
        locale.decimalPoint().isEmpty() ? QLatin1Char('.') : locale.decimalPoint().front();
    settings.thousandSeparator =
        locale.groupSeparator().isEmpty() ? QLatin1Char(',') : locale.groupSeparator().front();
    settings.amText = locale.amText();
    settings.pmText = locale.pmText();
    return settings;
}

// A value of the wrong type counts as absent: the locale's answer is better
// than no date text at all.
QString storedText(const TRegistry& registry, const QString& name) {
    try {
        return registry.ReadString(name);
    } catch (const ERegistryException&) {
        return QString();
    }
}

void override(QString& field, const QString& stored) {
    if (!stored.isEmpty())
        field = stored;
}

void override(QChar& field, const QString& stored) {
    if (!stored.isEmpty())
        field = stored.front();
}

// A bare locale ("C", as a service or a shell without LANG has) knows no
// regional formats and would write "5 Mar 2024": the station writes dates
// day first with a 24-hour clock then. Its decimal separator stays, since the
// output files depend on it.
FormatSettings systemFormats() {
    const QLocale system = QLocale::system();
    FormatSettings settings = fromLocale(system);
    if (system.language() == QLocale::C) {
        settings.shortDateFormat = QStringLiteral("dd/MM/yyyy");
        settings.longTimeFormat = QStringLiteral("HH:mm:ss");
        settings.dateSeparator = QLatin1Char('/');
        settings.timeSeparator = QLatin1Char(':');
    }
    return settings;
}

FormatSettings readFormatSettings() {
    FormatSettings settings = systemFormats();
    TRegistry registry;
    if (!registry.OpenKey(kInternationalKey, false))
        return settings;
    override(settings.shortDateFormat, storedText(registry, QStringLiteral("sShortDate")));
    override(settings.longTimeFormat, storedText(registry, QStringLiteral("sLongTime")));
    override(settings.dateSeparator, storedText(registry, QStringLiteral("sDate")));
    override(settings.timeSeparator, storedText(registry, QStringLiteral("sTime")));
    override(settings.decimalSeparator, storedText(registry, QStringLiteral("sDecimal")));
    override(settings.thousandSeparator, storedText(registry, QStringLiteral("sThousand")));
    override(settings.amText, storedText(registry, QStringLiteral("s1159")));
    override(settings.pmText, storedText(registry, QStringLiteral("s2359")));
    registry.CloseKey();
    // A decimal comma from the key over a locale that groups with commas (the
    // bare "C" one) would make 1,234,56.
    if (settings.thousandSeparator == settings.decimalSeparator)
        settings.thousandSeparator =
            settings.decimalSeparator == QLatin1Char(',') ? QLatin1Char('.') : QLatin1Char(',');
    return settings;
}

std::optional<FormatSettings>& cache() {
    static std::optional<FormatSettings> settings;
    return settings;
}

QString number(int value, qsizetype run, int wide) {
    return run >= 2 ? QStringLiteral("%1").arg(value, wide, 10, QLatin1Char('0'))
                    : QString::number(value);
}

QString dayText(const QDate& date, qsizetype run) {
    if (run <= 2)
        return number(date.day(), run, 2);
    const auto form = run == 3 ? QLocale::ShortFormat : QLocale::LongFormat;
    return QLocale::system().dayName(date.dayOfWeek(), form);
}

QString monthText(int month, qsizetype run) {
    if (run <= 2)
        return number(month, run, 2);
    const auto form = run == 3 ? QLocale::ShortFormat : QLocale::LongFormat;
    return QLocale::system().monthName(month, form);
}

QString yearText(int year, qsizetype run) {
    if (run <= 2)
        return number(year % 100, run, 2);
    return number(year, 2, 4);
}

QString amPmText(int hour, qsizetype run, const FormatSettings& settings) {
    const QString text = hour < 12 ? settings.amText : settings.pmText;
    return run == 1 ? text.left(1) : text;
}

// One run of a picture letter ("dd", "MMMM", "tt", ...) as text.
QString field(QChar letter, qsizetype run, const DateTimeParts& p, const FormatSettings& s) {
    switch (letter.unicode()) {
    case 'd':
        return dayText(QDate(p.year, p.month, p.day), run);
    case 'M':
        return monthText(p.month, run);
    case 'y':
        return yearText(p.year, run);
    case 'h':
        return number(p.hour % 12 == 0 ? 12 : p.hour % 12, run, 2);
    case 'H':
        return number(p.hour, run, 2);
    case 'm':
        return number(p.minute, run, 2);
    case 's':
        return number(p.second, run, 2);
    case 't':
        return amPmText(p.hour, run, s);
    case 'g': // the era: the station's dates have only one
        return QString();
    case '/':
        return QString(run, s.dateSeparator);
    case ':':
        return QString(run, s.timeSeparator);
    default:
        return QString(run, letter);
    }
}

// Walks a picture: text in single or double quotes goes to `quoted` without
// them, every run of one character to `run`.
template <typename Quoted, typename Run>
void walkPicture(const QString& picture, Quoted quoted, Run run) {
    for (qsizetype i = 0; i < picture.size();) {
        const QChar c = picture[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            qsizetype close = picture.indexOf(c, i + 1);
            close = close < 0 ? picture.size() : close;
            quoted(picture.mid(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        const qsizetype length = runLength(picture, i);
        run(c, length);
        i += length;
    }
}

// A character a number format shows as it stands; any other is escaped, so
// that "." or a letter is never read as a code.
QString formatLiteral(QChar c) {
    static const QString kShownAsIs = QStringLiteral("$-+/():!^&'~{}<>= ");
    return kShownAsIs.contains(c) ? QString(c) : QStringLiteral("\\") + c;
}

// One run of a picture letter as number-format codes.
QString formatCodes(QChar letter, qsizetype run, const FormatSettings& s) {
    const auto codes = [&](char code, qsizetype most) {
        return QString(std::min(run, most), QLatin1Char(code));
    };
    switch (letter.unicode()) {
    case 'd':
        return codes('d', 4);
    case 'M':
        return codes('m', 4);
    case 'y':
        return run <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy");
    case 'h':
    case 'H': // a 24-hour clock unless the format has AM/PM
        return codes('h', 2);
    case 'm': // minutes, since they follow the hours
        return codes('m', 2);
    case 's':
        return codes('s', 2);
    case 't':
        return run == 1 ? QStringLiteral("A/P") : QStringLiteral("AM/PM");
    case 'g':
        return QString();
    case '/':
        return formatLiteral(s.dateSeparator).repeated(run);
    case ':':
        return formatLiteral(s.timeSeparator).repeated(run);
    default:
        return formatLiteral(letter).repeated(run);
    }
}

} // namespace

const FormatSettings& formatSettings() {
    if (!cache())
        cache() = readFormatSettings();
    return *cache();
}

void reloadFormatSettings() {
    cache().reset();
}

QString formatDateTimePicture(const QString& picture, TDateTime value) {
    const DateTimeParts parts = decodeDateTime(value);
    const FormatSettings& settings = formatSettings();
    QString text;
    walkPicture(
        picture, [&](const QString& quoted) { text += quoted; },
        [&](QChar letter, qsizetype run) { text += field(letter, run, parts, settings); });
    return text;
}

QString spreadsheetFormat(const QString& picture) {
    const FormatSettings& settings = formatSettings();
    QString format;
    walkPicture(
        picture,
        [&](QString quoted) {
            quoted.remove(QLatin1Char('"'));
            if (!quoted.isEmpty())
                format += QLatin1Char('"') + quoted + QLatin1Char('"');
        },
        [&](QChar letter, qsizetype run) { format += formatCodes(letter, run, settings); });
    return format;
}

QString DateToStr(TDateTime value) {
    return formatDateTimePicture(formatSettings().shortDateFormat, value);
}

QString TimeToStr(TDateTime value) {
    return formatDateTimePicture(formatSettings().longTimeFormat, value);
}

QString DateTimeToStr(TDateTime value) {
    const DateTimeParts parts = decodeDateTime(value);
    const bool midnight =
        parts.hour == 0 && parts.minute == 0 && parts.second == 0 && parts.msec == 0;
    return midnight ? DateToStr(value) : DateAndTimeToStr(value);
}

QString DateAndTimeToStr(TDateTime value) {
    return DateToStr(value) + QLatin1Char(' ') + TimeToStr(value);
}

QString NowText() {
    return DateTimeToStr(Now());
}
