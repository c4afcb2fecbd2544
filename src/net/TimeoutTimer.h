#pragma once

#include <QTimer>
#include <functional>

// A timer whose settings restart it: changing Enabled or Interval to a new
// value, or setting OnTimer, stops the timer and starts it again from zero
// when it has an interval, is enabled and has a handler.
class TTimeoutTimer {
public:
    TTimeoutTimer();

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    int Interval() const { return m_interval; }
    void SetInterval(int interval);
    void SetOnTimer(std::function<void()> onTimer);
    bool Running() const { return m_timer.isActive(); }

private:
    void UpdateTimer();

    QTimer m_timer;
    bool m_enabled = true;
    int m_interval = 1000;
    std::function<void()> m_onTimer;
};
