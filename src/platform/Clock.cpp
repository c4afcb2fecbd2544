#include "platform/Clock.h"

namespace {
ClockFunction& clockSlot() {
    static ClockFunction current;
    return current;
}
} // namespace

QDateTime currentDateTime() {
    return clockSlot() ? clockSlot()() : QDateTime::currentDateTime();
}
TDateTime Now() {
    return toDateTime(currentDateTime());
}
TDateTime Date() {
    return dateOf(Now());
}
TDateTime Time() {
    return timeOf(Now());
}
void setClock(ClockFunction c) {
    clockSlot() = std::move(c);
}
