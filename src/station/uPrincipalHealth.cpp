// The health of the points as the window shows it: the core records it (the
// same HealthKeeper a service uses); the window adds the "Estado de los
// puntos" window and a tray balloon for each alert.
#include "station/uPrincipal.h"

#include "collect/Cycles.h"
#include "collect/HealthSettings.h"
#include "collect/PointHealth.h"
#include "collect/ServiceLink.h"
#include "platform/Errors.h"
#include "platform/Registry.h"
#include "ui/TrayIcon.h"
#include "windows/uSaludPuntos.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

void TfPrincipal::setUpHealth() {
    if (m_monitor)
        return; // the service keeps the health; the window asks it
    m_health = std::make_unique<HealthKeeper>(m_localAlias, *this);
    m_health->setPolicy(readHealthPolicy());
    m_health->load();
    m_health->onChanged = [this] { refreshHealthWindow(); };
    m_health->onAlert = [this](const HealthAlert& alert) { alertBalloon(alert); };
    m_cycles->setHealth(m_health.get());
}

// Each value that cannot be read is said once; its default stands.
HealthPolicy TfPrincipal::readHealthPolicy() {
    QStringList problems;
    const HealthSettings settings = loadHealthSettings(m_serverAlias, problems);
    for (const QString& problem : problems)
        statusText(QStringLiteral("ERROR: configuración de alertas: %1").arg(problem));
    return settings.policy;
}

void TfPrincipal::alertBalloon(const HealthAlert& alert) {
    const QString point = QStringLiteral("%1 (%2, Loc %3)").arg(alert.ip, alert.desc, alert.loc);
    TrayIcon1->showMessage(alert.down ? QStringLiteral("Punto de registro caído")
                                      : QStringLiteral("Punto de registro recuperado"),
                           point + QStringLiteral(": ") + alert.reason,
                           alert.down ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
}

QList<PointHealthView> TfPrincipal::pointsHealth() {
    if (!m_monitor && !m_health)
        throw Exception(QStringLiteral("la estación no pudo iniciarse"));
    if (!m_monitor)
        return m_health->view(HealthKeeper::readPoints(m_localAlias));
    QByteArray reply;
    if (!ServiceLink::ask("puntos", reply))
        throw Exception(QStringLiteral("el servicio de la estación no responde"));
    if (reply.startsWith("error"))
        throw Exception(QString::fromUtf8(reply.mid(7)));
    return healthFromJson(QJsonDocument::fromJson(reply).array());
}

void TfPrincipal::saveHealthPolicy(const HealthPolicy& policy) {
    ::saveHealthPolicy(m_serverAlias, policy);
    if (m_monitor)
        askService("releer");
    else if (m_health)
        m_health->setPolicy(policy);
    statusText(QStringLiteral("Configuración de alertas guardada."));
    refreshHealthWindow();
}

void TfPrincipal::EstadoPuntos1Click() {
    if (!m_fSaludPuntos) {
        m_fSaludPuntos = new TfSaludPuntos(
            this, [this] { return pointsHealth(); },
            [this](const HealthPolicy& policy) { saveHealthPolicy(policy); });
    }
    m_fSaludPuntos->setPolicy(m_health ? m_health->policy() : readHealthPolicy());
    m_fSaludPuntos->show();
    m_fSaludPuntos->raise();
    m_fSaludPuntos->activateWindow();
}

void TfPrincipal::refreshHealthWindow() {
    if (m_fSaludPuntos && m_fSaludPuntos->isVisible())
        m_fSaludPuntos->refresh();
}
