// The health of the points as the window shows it: the station records it;
// the window adds the "Estado de los puntos" window and a tray balloon for
// each alert.
#include "station/uPrincipal.h"

#include "collect/HealthSettings.h"
#include "collect/StationCore.h"
#include "ui/TrayIcon.h"
#include "windows/uSaludPuntos.h"

// Each value of a station's own that cannot be read is said once; its
// default stands. (A service reads its own.)
void TfPrincipal::setUpHealth() {
    if (!m_core)
        return;
    QStringList problems;
    m_core->loadHealthSettings(problems);
    for (const QString& problem : problems)
        statusText(QStringLiteral("ERROR: configuración de alertas: %1").arg(problem));
}

void TfPrincipal::alertBalloon(const HealthAlert& alert) {
    const QString point = QStringLiteral("%1 (%2, Loc %3)").arg(alert.ip, alert.desc, alert.loc);
    TrayIcon1->showMessage(alert.down ? QStringLiteral("Punto de registro caído")
                                      : QStringLiteral("Punto de registro recuperado"),
                           point + QStringLiteral(": ") + alert.reason,
                           alert.down ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
}

void TfPrincipal::saveHealthPolicy(const HealthPolicy& policy) {
    m_station->setHealthPolicy(policy);
    statusText(QStringLiteral("Configuración de alertas guardada."));
}

void TfPrincipal::EstadoPuntos1Click() {
    if (!m_fSaludPuntos) {
        m_fSaludPuntos = new TfSaludPuntos(
            this, [this] { return m_station->points(); },
            [this](const HealthPolicy& policy) { saveHealthPolicy(policy); });
    }
    m_fSaludPuntos->setPolicy(m_station->healthPolicy());
    m_fSaludPuntos->show();
    m_fSaludPuntos->raise();
    m_fSaludPuntos->activateWindow();
}

void TfPrincipal::refreshHealthWindow() {
    if (m_fSaludPuntos && m_fSaludPuntos->isVisible())
        m_fSaludPuntos->refresh();
}
