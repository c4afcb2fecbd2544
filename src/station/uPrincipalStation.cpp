// The station behind the main window: a station core of the window's own, or
// the service the window follows. The memo, the status line, the error box
// and the tray follow the station's events, whichever it is.
#include "station/uPrincipal.h"

#include "collect/RemoteStation.h"
#include "collect/StationCore.h"
#include "platform/CollectorLocks.h"
#include "platform/ErrorBox.h"
#include "platform/Errors.h"
#include "platform/Guarded.h"
#include "ui/Confirm.h"
#include "ui/Shape.h"
#include "ui/StatusBar.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCursor>

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

void TfPrincipal::createStation() {
    if (m_monitor) {
        auto remote = std::make_unique<RemoteStation>();
        m_remote = remote.get();
        m_station = std::move(remote);
    } else {
        auto core = std::make_unique<StationCore>(cycleTimers());
        core->setCycleControls(std::make_unique<WindowCycleControls>(core->settings(), *sAuto));
        m_core = core.get();
        m_station = std::move(core);
    }
    connectStation();
}

void TfPrincipal::connectStation() {
    StationControl* s = m_station.get();
    connect(s, &StationControl::memoAppended, this,
            [this](const QString& text) { runGuarded([&] { memoAppend(text); }); });
    connect(s, &StationControl::memoCleared, this, [this] { mStatus->clear(); });
    connect(s, &StationControl::statusChanged, this,
            [this](const QString& text) { statusText(text); });
    connect(s, &StationControl::transferProgress, this,
            [this](const TransferProgress& progress) { FtpClient1PacketRecvd(progress); });
    // A service's error is its journal's: the window says it, it boxes its own.
    connect(s, &StationControl::errorShown, this, [this](const QString& message) {
        m_monitor ? statusText(QStringLiteral("ERROR: ") + message) : showErrorBox(message);
    });
    connect(s, &StationControl::alertRaised, this,
            [this](const HealthAlert& alert) { runGuarded([&] { alertBalloon(alert); }); });
    connect(s, &StationControl::healthChanged, this,
            [this] { runGuarded([this] { refreshHealthWindow(); }); });
    connect(s, &StationControl::gone, this, [this] { runGuarded([this] { stationGone(); }); });
}

const QString& TfPrincipal::localAlias() const {
    return m_core ? m_core->localAlias() : m_remote->localAlias();
}

const QString& TfPrincipal::serverAlias() const {
    return m_core ? m_core->serverAlias() : m_remote->serverAlias();
}

const CollectionCycles& TfPrincipal::cycles() const {
    if (!m_core)
        throw Exception(QStringLiteral("Esta ventana sigue al servicio de la estación."));
    return m_core->cycles();
}

PuntoRegistro& TfPrincipal::punto() {
    if (!m_core)
        throw Exception(QStringLiteral("Esta ventana sigue al servicio de la estación."));
    return m_core->work();
}

void TfPrincipal::memoAppend(const QString& text) {
    // Appended as it stands: the texts carry their own CR LF.
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor = mStatus->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(plain);
    mStatus->setTextCursor(cursor);
}

void TfPrincipal::statusText(const QString& text) {
    StatusBar1->setSimpleText(text);
}

// The bytes of the download in hand, in the status line.
void TfPrincipal::FtpClient1PacketRecvd(const TransferProgress& progress) {
    statusText(transferStatusText(progress));
}

// --- the window as the service's face ---

void TfPrincipal::startMonitor() {
    statusText(m_remote->follow()
                   ? QStringLiteral("Conectado con el servicio de la estación en ") +
                         AliasConfig::dataDirectory()
                   : QStringLiteral("ERROR: el servicio de la estación no responde."));
}

// The service stopped: said, and the window offers to collect on its own.
void TfPrincipal::stationGone() {
    const QString said =
        QStringLiteral("ERROR: el servicio de la estación se detuvo; esta ventana ya no lo sigue.");
    statusText(said);
    // Asked once the station that went has finished telling it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            runGuarded([this] {
                if (confirm(QStringLiteral("El servicio de la estación se detuvo. ¿Descargar "
                                           "desde esta ventana?"),
                            this))
                    collectHere();
            });
        },
        Qt::QueuedConnection);
}

// The window becomes the station's collector, when nobody else has become it.
void TfPrincipal::collectHere() {
    auto locks = std::make_unique<CollectorLocks>(AliasConfig::dataDirectory());
    if (locks->acquire() != CollectorLocks::Refusal::None) {
        statusText(QStringLiteral("ERROR: no se puede descargar desde esta ventana: ya hay otra "
                                  "estación en marcha (%1).")
                       .arg(locks->holder()));
        return;
    }
    m_locks = std::move(locks);
    m_settingsLoaded = false;
    m_station->disconnect(this);
    m_remote = nullptr;
    m_monitor = false;
    createStation();
    FormCreate();
    setUpHealth();
    m_settingsLoaded = true;
    setFixedSize(sizeHint()); // without the monitor's mark
    FormShow();
    statusText(QStringLiteral("Esta ventana descarga ahora los puntos de la estación."));
}
