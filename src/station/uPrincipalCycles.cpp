// The main window's side of the collection and synchronisation cycles: the
// timer and button handlers keep their names and call the station.
#include "station/uPrincipal.h"

#include "collect/StationCore.h"
#include "platform/Guarded.h"

#include <QPushButton>
#include <QTimer>

// Once: the handlers reach whichever station the window has.
void TfPrincipal::setUpCycles() {
    connect(tAuto, &QTimer::timeout, this, guarded([this] { tAutoTimer(); }));
    connect(tAutoMin, &QTimer::timeout, this, guarded([this] { tAutoMinTimer(); }));
    connect(TimerFTP, &QTimer::timeout, this, guarded([this] { TimerFTPTimer(); }));
    connect(TimerFTPend, &QTimer::timeout, this, guarded([this] { TimerFTPendTimer(); }));
    connect(TimerSinc, &QTimer::timeout, this, guarded([this] { TimerSincTimer(); }));
    connect(TimerSincEnd, &QTimer::timeout, this, guarded([this] { TimerSincEndTimer(); }));
    connect(bDescargar, &QPushButton::clicked, this, guarded([this] { bDescargarClick(); }));
    connect(bSinc, &QPushButton::clicked, this, guarded([this] { bSincClick(); }));
    connect(bCancelPool, &QPushButton::clicked, this, guarded([this] { bCancelPoolClick(); }));
}

// A service that the window follows runs its own triggers.
void TfPrincipal::tAutoTimer() {
    m_station->dailyTick();
}
void TfPrincipal::tAutoMinTimer() {
    m_station->constantTick();
}
// The step timers are the station core's when the window collects.
void TfPrincipal::TimerFTPTimer() {
    if (m_core)
        m_core->cycles().downloadStep();
}
void TfPrincipal::TimerFTPendTimer() {
    if (m_core)
        m_core->cycles().endDownload();
}
void TfPrincipal::TimerSincTimer() {
    if (m_core)
        m_core->cycles().syncStep();
}
void TfPrincipal::TimerSincEndTimer() {
    if (m_core)
        m_core->cycles().endSync();
}
// "&Descargar" into "Archivo:", emptied first when "Sobrescribir" is on: the
// window's values, also for a service it follows.
void TfPrincipal::bDescargarClick() {
    const StationSettings& values = m_station->settings().values();
    m_station->startDownload(ManualOutput{values.FileMan, values.EraseMan});
}
void TfPrincipal::bSincClick() {
    m_station->startSync();
}
void TfPrincipal::bCancelPoolClick() {
    m_station->cancel();
}
