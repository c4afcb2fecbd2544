#pragma once

#include "platform/DateTime.h"

#include <QDateTime>
#include <functional>

// The one source of "now". Tests replace it to run the station at a chosen time.
using ClockFunction = std::function<QDateTime()>;

QDateTime currentDateTime();
TDateTime Now();
TDateTime Date();
TDateTime Time();

// An empty function restores the system clock.
void setClock(ClockFunction clock);
