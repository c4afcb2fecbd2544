#include "platform/DateTime.h"

#include <cmath>

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsecPerDay = 86400000;

// Milliseconds since the epoch, rounded. Negative values count the whole part
// backwards and the fraction forwards, as the scale has always done.
qint64 toMsec(TDateTime value) {
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    qint64 days = static_cast<qint64>(whole);
    qint64 ms = std::llround(fraction * kMsecPerDay);
    if (ms >= kMsecPerDay) { // rounding carried into the next day
        ms -= kMsecPerDay;
        days += value < 0 ? -1 : 1;
    }
    return days * kMsecPerDay + ms;
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
    const qint64 total = toMsec(value);
    const qint64 days = total / kMsecPerDay;
    const qint64 ms = std::llabs(total % kMsecPerDay);
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

TDateTime toDateTime(const QDate& value) { return static_cast<double>(kEpoch.daysTo(value)); }

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

QDate toQDate(TDateTime value) { return toQDateTime(value).date(); }
QTime toQTime(TDateTime value) { return toQDateTime(value).time(); }

TDateTime dateOf(TDateTime value) { return std::trunc(value); }
TDateTime timeOf(TDateTime value) { return std::fabs(value - std::trunc(value)); }
