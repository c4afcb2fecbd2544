#include "platform/Clock.h"

namespace {
ClockFunction& clock() {
    static ClockFunction current;
    return current;
}
} // namespace

QDateTime currentDateTime() { return clock() ? clock()() : QDateTime::currentDateTime(); }
TDateTime Now() { return toDateTime(currentDateTime()); }
TDateTime Date() { return dateOf(Now()); }
TDateTime Time() { return timeOf(Now()); }
void setClock(ClockFunction c) { clock() = std::move(c); }
