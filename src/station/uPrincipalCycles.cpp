// The main window's side of the collection and synchronisation cycles: the
// timer and button handlers keep their names and call the cycle machine.
#include "station/uPrincipal.h"

#include "collect/Cycles.h"
#include "platform/Guarded.h"
#include "ui/Shape.h"

#include <QPushButton>
#include <QTimer>

namespace {
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kSilver(0xC0, 0xC0, 0xC0);

// What the cycles read of the settings, and the daily indicator beside the time.
class WindowCycleControls : public SettingsCycleControls {
public:
    WindowCycleControls(const StationSettingsStore& settings, TShape& sAuto)
        : SettingsCycleControls(settings), m_sAuto(sAuto) {}
    void blinkDailyIndicator() override {
        m_sAuto.setBrushColor(m_sAuto.BrushColor() == kSilver ? kLime : kSilver);
    }

private:
    TShape& m_sAuto;
};
} // namespace

void TfPrincipal::setUpCycles() {
    m_cycleControls = std::make_unique<WindowCycleControls>(m_settings, *sAuto);
    m_cycles =
        std::make_unique<CollectionCycles>(cycleTimers(), tPrIP, *m_cycleControls, punto(), *this);
    CollectionCycles& cycles = *m_cycles;
    connect(tAuto, &QTimer::timeout, this, guarded([this] { tAutoTimer(); }));
    connect(tAutoMin, &QTimer::timeout, this, guarded([this] { tAutoMinTimer(); }));
    connect(TimerFTP, &QTimer::timeout, this, guarded([&cycles] { cycles.TimerFTPTimer(); }));
    connect(TimerFTPend, &QTimer::timeout, this, guarded([&cycles] { cycles.TimerFTPendTimer(); }));
    connect(TimerSinc, &QTimer::timeout, this, guarded([&cycles] { cycles.TimerSincTimer(); }));
    connect(TimerSincEnd, &QTimer::timeout, this,
            guarded([&cycles] { cycles.TimerSincEndTimer(); }));
    connect(bDescargar, &QPushButton::clicked, this, guarded([this] { bDescargarClick(); }));
    connect(bSinc, &QPushButton::clicked, this, guarded([this] { bSincClick(); }));
    connect(bCancelPool, &QPushButton::clicked, this, guarded([this] { bCancelPoolClick(); }));
}

const CollectionCycles& TfPrincipal::cycles() const {
    return *m_cycles;
}

// In monitor mode the service runs the triggers, and the buttons ask it.
void TfPrincipal::tAutoTimer() {
    if (!m_monitor)
        m_cycles->tAutoTimer();
}
void TfPrincipal::tAutoMinTimer() {
    if (!m_monitor)
        m_cycles->tAutoMinTimer();
}
void TfPrincipal::bDescargarClick() {
    m_monitor ? askService("descargar") : m_cycles->bDescargarClick();
}
void TfPrincipal::bSincClick() {
    m_monitor ? askService("sincronizar") : m_cycles->bSincClick();
}
void TfPrincipal::bCancelPoolClick() {
    m_monitor ? askService("cancelar") : m_cycles->bCancelPoolClick();
}
