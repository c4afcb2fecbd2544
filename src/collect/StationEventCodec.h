#pragma once

#include "collect/PointHealth.h"
#include "collect/StationEvents.h"

#include <QByteArray>
#include <QJsonObject>
#include <functional>

class StationControl;

// The typed events of a station as lines of its control socket, so that a
// window following a service hears the same events as from a station of its
// own: "evento " and a JSON object whose "tipo" names the event. The texts
// the memo and status line show travel as "memo ...", "estado ..." and
// "limpiar"; "salud" says the points' health changed.
namespace StationEventCodec {

// Every event of the station, as the lines a follower receives.
void forward(StationControl& station, std::function<void(const QByteArray& line)> send);

// One line a follower received, told as the station's own signal; false
// when the line is none of them.
bool replay(const QByteArray& line, StationControl& station);

} // namespace StationEventCodec
