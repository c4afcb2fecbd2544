#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

// The station's date-time: days since 1899-12-30 00:00 as a double, the time
// of day being the fraction. Date fields have fraction 0, time fields whole part 0.
using TDateTime = double;

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, msec = 0;
};

TDateTime encodeDate(int year, int month, int day);
TDateTime encodeTime(int hour, int minute, int second, int msec = 0);
TDateTime encodeDateTime(const DateTimeParts& parts);
// Rounded to the millisecond.
DateTimeParts decodeDateTime(TDateTime value);

TDateTime toDateTime(const QDateTime& value);
TDateTime toDateTime(const QDate& value);
TDateTime toDateTime(const QTime& value);
QDateTime toQDateTime(TDateTime value);
QDate toQDate(TDateTime value);
QTime toQTime(TDateTime value);

TDateTime dateOf(TDateTime value);
TDateTime timeOf(TDateTime value);
