#pragma once

#include "collect/PointHealth.h"

#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QObject>
#include <functional>

class StationControl;

// The points' state as the page shows it, at one instant.
struct BoardState {
    QList<PointHealthView> points;
    QString problem;     // why the points could not be read, if they could not
    quint64 version = 0; // grows with every change, for the live refresh
    QDateTime read;      // when it was read
};

// The points' state kept for the server's threads: read on the event loop's
// thread at the start and whenever the station says a point's health changed
// (the same source the health window reads), and copied whole, under a lock
// held only to copy, by whichever thread answers.
class WebBoard : public QObject {
public:
    using Source = std::function<QList<PointHealthView>()>;
    WebBoard(StationControl& station, Source source);

    // Any thread.
    BoardState state() const;

    // The event loop's thread.
    void read();

private:
    Source m_source;
    mutable QMutex m_mutex; // guards m_state only
    BoardState m_state;
};
