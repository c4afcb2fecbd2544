#include "web/WebSettings.h"

#include "collect/SettingsCodec.h"
#include "platform/Registry.h"

#include <algorithm>

namespace {

constexpr int kMaxIdleMinutes = 24 * 60;

QString readText(const TRegistry& registry, const QString& name, QStringList& problems) {
    try {
        return registry.ReadString(name).trimmed();
    } catch (const std::exception&) {
        problems << QStringLiteral("'%1' no es un texto").arg(name);
        return {};
    }
}

} // namespace

WebSettings loadWebSettings(const QString& serverAlias, QStringList& problems) {
    WebSettings web;
    const qsizetype earlier = problems.size();
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), false))
        return web;
    const QString where = readText(registry, QStringLiteral("Web"), problems);
    if (where.isEmpty())
        return web;
    QString problem;
    const std::optional<MetricsListen> listen = parseMetricsListen(where, problem);
    if (!listen) {
        problems << QStringLiteral("'Web': %1").arg(problem);
        return web;
    }
    web.certificatePath = readText(registry, QStringLiteral("WebCertificado"), problems);
    web.keyPath = readText(registry, QStringLiteral("WebClave"), problems);
    const QString accounts = readText(registry, QStringLiteral("WebCuentas"), problems);
    if (!accounts.isEmpty())
        web.accountsPath = accounts;
    if (registry.ValueExists(QStringLiteral("WebInactividad"))) {
        try {
            web.idleMinutes = std::clamp(registry.ReadInteger(QStringLiteral("WebInactividad")), 1,
                                         kMaxIdleMinutes);
        } catch (const std::exception&) {
            problems << QStringLiteral("'WebInactividad' no es un número");
        }
    }
    if (web.certificatePath.isEmpty() != web.keyPath.isEmpty()) {
        problems << QStringLiteral("'WebCertificado' y 'WebClave' van juntos");
        return WebSettings{};
    }
    if (problems.size() == earlier)
        web.listen = *listen;
    return web;
}

WebSettings confinedToLoopback(WebSettings settings, QString& note) {
    if (settings.tls() || settings.listen.address.isLoopback())
        return settings;
    const QHostAddress loopback =
        settings.listen.address.protocol() == QAbstractSocket::IPv6Protocol
            ? QHostAddress(QHostAddress::LocalHostIPv6)
            : QHostAddress(QHostAddress::LocalHost);
    note = QStringLiteral("sin certificado la página web solo escucha en %1, no en %2")
               .arg(loopback.toString(), settings.listen.address.toString());
    settings.listen.address = loopback;
    return settings;
}
