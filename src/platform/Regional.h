#pragma once

#include "platform/DateTime.h"

#include <QString>

// The user's regional settings: read from the registry store under
// "\Control Panel\International" (sShortDate, sLongTime, sDate, sDecimal, and
// sTime, sThousand, s1159, s2359); an absent value comes from the system locale
// (four-digit year, no time zone; a bare "C" locale gives dd/MM/yyyy and
// HH:mm:ss). Formats use the Windows picture letters
// (d, M, y, H, h, m, s, t); "/" and ":" stand for the separators, text in
// single or double quotes is literal.
struct FormatSettings {
    QString shortDateFormat; // e.g. "dd/MM/yyyy"
    QString longTimeFormat;  // e.g. "HH:mm:ss"
    QChar dateSeparator;     // "/" in the formats stands for it
    QChar timeSeparator;     // ":" in the formats stands for it
    QChar decimalSeparator;
    QChar thousandSeparator; // never the decimal separator
    QString amText;          // "tt" before noon ("t": its first letter)
    QString pmText;
};

// Read once and cached; reloadFormatSettings() reads again (tests).
const FormatSettings& formatSettings();
void reloadFormatSettings();

// Formats a date-time with a Windows-style picture using the regional settings.
QString formatDateTimePicture(const QString& picture, TDateTime value);

// A picture as a spreadsheet's number format, with the regional separators:
// "d/M/yyyy" gives "d/m/yyyy", "hh:mm:ss tt" gives "hh:mm:ss AM/PM".
QString spreadsheetFormat(const QString& picture);

QString DateToStr(TDateTime value); // short date
QString TimeToStr(TDateTime value); // long time
// Short date, a blank, long time; the time is left out when it is exactly midnight.
QString DateTimeToStr(TDateTime value);
// Short date, a blank, long time, the time always there: the project's own
// windows and files, where a column of times should not lose one at midnight.
QString DateAndTimeToStr(TDateTime value);
// The "now" text.
QString NowText();
