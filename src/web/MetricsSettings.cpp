#include "web/MetricsSettings.h"

#include "collect/SettingsCodec.h"
#include "platform/Registry.h"

#include <QRegularExpression>

namespace {
const QString kValue = QStringLiteral("Metricas");
}

QString MetricsListen::text() const {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

std::optional<MetricsListen> parseMetricsListen(const QString& text, QString& problem) {
    static const QRegularExpression shape(
        QStringLiteral("^(?:(?:\\[([0-9A-Fa-f:.]+)\\]|([0-9.]+)):)?([0-9]{1,5})$"));
    const QRegularExpressionMatch match = shape.match(text.trimmed());
    MetricsListen listen;
    const int port = match.hasMatch() ? match.captured(3).toInt() : 0;
    const QString host = match.captured(1) + match.captured(2);
    if (!match.hasMatch() || port < 1 || port > 65535 ||
        (!host.isEmpty() && !listen.address.setAddress(host))) {
        problem = QStringLiteral("'%1' no es PUERTO, DIRECCIÓN:PUERTO ni [DIRECCIÓN IPv6]:PUERTO")
                      .arg(text);
        return std::nullopt;
    }
    listen.port = quint16(port);
    return listen;
}

MetricsListen loadMetricsListen(const QString& serverAlias, QStringList& problems) {
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), false) || !registry.ValueExists(kValue))
        return {};
    QString text;
    try {
        text = registry.ReadString(kValue).trimmed();
    } catch (const std::exception&) {
        problems << QStringLiteral("'%1' no es un texto").arg(kValue);
        return {};
    }
    if (text.isEmpty())
        return {};
    QString problem;
    const std::optional<MetricsListen> listen = parseMetricsListen(text, problem);
    if (!listen)
        problems << QStringLiteral("'%1': %2").arg(kValue, problem);
    return listen.value_or(MetricsListen{});
}
