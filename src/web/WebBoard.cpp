#include "web/WebBoard.h"

#include "collect/StationControl.h"
#include "platform/Clock.h"

#include <QMutexLocker>

WebBoard::WebBoard(StationControl& station, Source source) : m_source(std::move(source)) {
    connect(&station, &StationControl::healthChanged, this, &WebBoard::read);
    read();
}

void WebBoard::read() {
    BoardState next;
    try {
        next.points = m_source();
    } catch (const std::exception& error) {
        next.problem = QString::fromUtf8(error.what());
    }
    next.read = currentDateTime();
    const QMutexLocker lock(&m_mutex);
    next.version = m_state.version + 1;
    m_state = std::move(next);
}

BoardState WebBoard::state() const {
    const QMutexLocker lock(&m_mutex);
    return m_state;
}
