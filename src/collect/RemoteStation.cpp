#include "collect/RemoteStation.h"

#include "collect/HealthSettings.h"
#include "collect/PointClients.h"
#include "collect/PuntoRegistro.h"
#include "collect/StationEventCodec.h"
#include "platform/Errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

RemoteStation::RemoteStation() {
    m_session.OnPassword = [](TSession& sender, bool& go) {
        sender.AddPassword(kLocalTablesPassword);
        go = true;
    };
    connect(this, &StationControl::cycleStarted, this, [this] { m_running = true; });
    connect(this, &StationControl::cycleEnded, this, [this] { m_running = false; });
}

RemoteStation::~RemoteStation() = default;

void RemoteStation::declareAliases() {
    m_aliases = declareStationAliases(m_session);
    m_settings.setServerAlias(m_aliases.server);
    m_server.AliasName = m_server.DatabaseName = m_aliases.server;
}

void RemoteStation::loadServerLogin() {
    ::loadServerLogin(m_server);
}

void RemoteStation::loadSettings() {
    m_settings.loadClamped();
}

bool RemoteStation::follow() {
    m_follower = std::make_unique<ServiceFollower>(
        [this](const QByteArray& line) { StationEventCodec::replay(line, *this); },
        [this] {
            m_running = false;
            emit gone();
        });
    if (!m_follower->connected())
        return false;
    const QJsonObject state = QJsonDocument::fromJson(ask("estado")).object();
    m_running = state.value(QStringLiteral("estado")).toString() == QLatin1String("en ciclo");
    return true;
}

bool RemoteStation::connected() const {
    return m_follower && m_follower->connected();
}

QByteArray RemoteStation::ask(const QByteArray& line) {
    QByteArray reply;
    if (!ServiceLink::ask(line, reply))
        throw Exception(QStringLiteral("no hay ningún servicio de la estación en marcha"));
    if (reply.startsWith("error"))
        throw Exception(QString::fromUtf8(reply.mid(7)));
    return reply;
}

void RemoteStation::askAndSay(const QByteArray& line) {
    try {
        ask(line);
    } catch (const Exception& error) {
        emit statusChanged(QStringLiteral("ERROR: ") + error.message() + QLatin1Char('.'));
    }
}

// "&Descargar" hands the service the window's "Archivo:" and "Sobrescribir".
void RemoteStation::startDownload(const std::optional<ManualOutput>& manual) {
    if (!manual) {
        askAndSay("descargar");
        return;
    }
    if (manual->path.isEmpty()) {
        emit statusChanged(kManualFileNeeded);
        return;
    }
    askAndSay("descargar " +
              QJsonDocument(QJsonObject{{QStringLiteral("archivo"), manual->path},
                                        {QStringLiteral("sobrescribir"), manual->overwrite}})
                  .toJson(QJsonDocument::Compact));
}

void RemoteStation::startSync() {
    askAndSay("sincronizar");
}

void RemoteStation::cancel() {
    askAndSay("cancelar");
}

// Written here, read anew by the service at once.
void RemoteStation::settingsSaved() {
    m_settings.save();
    askAndSay("releer");
}

QList<PointHealthView> RemoteStation::points() {
    return healthFromJson(QJsonDocument::fromJson(ask("puntos")).array());
}

HealthPolicy RemoteStation::healthPolicy() {
    QStringList problems;
    return loadHealthSettings(m_aliases.server, problems).policy;
}

void RemoteStation::setHealthPolicy(const HealthPolicy& policy) {
    saveHealthPolicy(m_aliases.server, policy);
    askAndSay("releer");
    emit healthChanged();
}

std::optional<UnfinishedRun> RemoteStation::unfinishedRun() {
    const QJsonObject o = QJsonDocument::fromJson(ask("pendiente")).object();
    if (o.isEmpty())
        return std::nullopt;
    return UnfinishedRun{o.value(QStringLiteral("descarga")).toString(),
                         o.value(QStringLiteral("loc")).toString(),
                         o.value(QStringLiteral("tickets")).toInt(-1)};
}

QString RemoteStation::abandonRun(const QString& runId) {
    return QString::fromUtf8(ask("abandonar " + runId.toUtf8()).mid(3));
}
