#include "net/TimeoutTimer.h"

#include "net/SockConst.h"
#include "net/SockErrors.h"

TTimeoutTimer::TTimeoutTimer() {
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        if (m_onTimer)
            m_onTimer();
    });
}

void TTimeoutTimer::SetEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    UpdateTimer();
}

void TTimeoutTimer::SetInterval(int interval) {
    if (interval == m_interval)
        return;
    m_interval = interval;
    UpdateTimer();
}

void TTimeoutTimer::SetOnTimer(std::function<void()> onTimer) {
    m_onTimer = std::move(onTimer);
    UpdateTimer();
}

void TTimeoutTimer::UpdateTimer() {
    m_timer.stop();
    if (m_interval <= 0 || !m_enabled || !m_onTimer)
        return;
    m_timer.start(m_interval);
    if (!m_timer.isActive())
        throw ESockError(SockText::NoTimer);
}
