#include "platform/DateTime.h"

#include <cmath>

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsecPerDay = 86400000;

// The calendar day and the millisecond of that day, rounded. Negative values
// count the whole part backwards and the fraction forwards, as the scale has
// always done: -1.25 is 1899-12-29 06:00.
struct DayAndMsec {
    qint64 day;
    qint64 msec;
};

DayAndMsec split(TDateTime value) {
    const double whole = std::trunc(value);
    DayAndMsec result{static_cast<qint64>(whole),
                      std::llround(std::fabs(value - whole) * kMsecPerDay)};
    if (result.msec >= kMsecPerDay) { // rounding carried into the next calendar day
        result.msec -= kMsecPerDay;
        result.day += 1;
    }
    return result;
}
} // namespace

TDateTime encodeDate(int year, int month, int day) {
    return static_cast<double>(kEpoch.daysTo(QDate(year, month, day)));
}

TDateTime encodeTime(int hour, int minute, int second, int msec) {
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsecPerDay;
}

TDateTime encodeDateTime(const DateTimeParts& p) {
    const double date = encodeDate(p.year, p.month, p.day);
    const double time = encodeTime(p.hour, p.minute, p.second, p.msec);
    return date < 0 ? date - time : date + time;
}

DateTimeParts decodeDateTime(TDateTime value) {
    const auto [days, ms] = split(value);
    const QDate date = kEpoch.addDays(days);
    DateTimeParts p;
    p.year = date.year();
    p.month = date.month();
    p.day = date.day();
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.msec = static_cast<int>(ms % 1000);
    return p;
}

TDateTime toDateTime(const QDate& value) {
    return static_cast<double>(kEpoch.daysTo(value));
}

TDateTime toDateTime(const QTime& value) {
    return static_cast<double>(value.msecsSinceStartOfDay()) / kMsecPerDay;
}

TDateTime toDateTime(const QDateTime& value) {
    const double date = toDateTime(value.date());
    const double time = toDateTime(value.time());
    return date < 0 ? date - time : date + time;
}

QDateTime toQDateTime(TDateTime value) {
    const DateTimeParts p = decodeDateTime(value);
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second, p.msec));
}

QDate toQDate(TDateTime value) {
    return toQDateTime(value).date();
}
QTime toQTime(TDateTime value) {
    return toQDateTime(value).time();
}

TDateTime dateOf(TDateTime value) {
    return std::trunc(value);
}
TDateTime timeOf(TDateTime value) {
    return std::fabs(value - std::trunc(value));
}
