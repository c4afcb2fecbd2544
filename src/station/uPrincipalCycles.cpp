// The main window's side of the collection and synchronisation cycles: the
// timer and button handlers keep their names and call the cycle machine.
#include "station/uPrincipal.h"

#include "collect/Cycles.h"
#include "platform/Guarded.h"
#include "ui/Shape.h"
#include "ui/SpinEdit.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>

namespace {
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kSilver(0xC0, 0xC0, 0xC0);

// What the cycles read from the window's controls.
class WindowCycleControls : public CycleControls {
public:
    explicit WindowCycleControls(TfPrincipal& window) : f(window) {}
    QTime dailyTime() const override { return f.dtpHora->time(); }
    bool constantOn() const override { return f.cbAutoMin->isChecked(); }
    QString automaticPrefix() const override { return f.eFileAuto->text(); }
    QString manualPath() const override { return f.eFileMan->text(); }
    bool manualOverwrite() const override { return f.cbErase->isChecked(); }
    void blinkDailyIndicator() override {
        f.sAuto->setBrushColor(f.sAuto->BrushColor() == kSilver ? kLime : kSilver);
    }

private:
    TfPrincipal& f;
};
} // namespace

void TfPrincipal::setUpCycles(PointWork& work, StationReport& report) {
    m_cycleControls = std::make_unique<WindowCycleControls>(*this);
    m_cycles = std::make_unique<CollectionCycles>(
        CycleTimers{tAuto, tAutoMin, TimerFTP, TimerFTPend, TimerSinc, TimerSincEnd}, tPrIP,
        *m_cycleControls, work, report);
    connect(&tAuto, &QTimer::timeout, this, guarded([this] { tAutoTimer(); }));
    connect(&tAutoMin, &QTimer::timeout, this, guarded([this] { tAutoMinTimer(); }));
    connect(&TimerFTP, &QTimer::timeout, this, guarded([this] { TimerFTPTimer(); }));
    connect(&TimerFTPend, &QTimer::timeout, this, guarded([this] { TimerFTPendTimer(); }));
    connect(&TimerSinc, &QTimer::timeout, this, guarded([this] { TimerSincTimer(); }));
    connect(&TimerSincEnd, &QTimer::timeout, this, guarded([this] { TimerSincEndTimer(); }));
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
void TfPrincipal::TimerFTPTimer() {
    m_cycles->TimerFTPTimer();
}
void TfPrincipal::TimerFTPendTimer() {
    m_cycles->TimerFTPendTimer();
}
void TfPrincipal::TimerSincTimer() {
    m_cycles->TimerSincTimer();
}
void TfPrincipal::TimerSincEndTimer() {
    m_cycles->TimerSincEndTimer();
}
