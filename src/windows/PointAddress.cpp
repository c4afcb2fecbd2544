#include "windows/PointAddress.h"

#include <QRegularExpression>

namespace {

bool isIPv4(const QString& text) {
    static const QRegularExpression quad(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch m = quad.match(text);
    if (!m.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i)
        if (m.captured(i).toInt() > 255)
            return false;
    return true;
}

// QUrl's own address parser decides; zone identifiers are not accepted.
bool isIPv6(const QString& text) {
    static const QRegularExpression hexAndColons(QStringLiteral("^[0-9A-Fa-f:.]+$"));
    if (!text.contains(QLatin1Char(':')) || !hexAndColons.match(text).hasMatch())
        return false;
    QUrl probe;
    probe.setHost(text, QUrl::StrictMode);
    return probe.isValid() && !probe.host().isEmpty();
}

// Letters, digits and inner hyphens in labels of up to 63 characters; a name
// of digits and dots only would be a malformed address, not a name.
bool isHostName(const QString& text) {
    static const QRegularExpression name(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,"
                       "61}[A-Za-z0-9])?)*\\.?$"));
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
    return text.size() <= 253 && name.match(text).hasMatch() && !numeric.match(text).hasMatch();
}

QString hostOf(const QString& text) {
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'))) {
        const QString inner = text.mid(1, text.size() - 2);
        return isIPv6(inner) ? inner : QString();
    }
    if (isIPv4(text) || isIPv6(text) || isHostName(text))
        return text;
    return {};
}

} // namespace

QUrl pointWebPage(const QString& ipText) {
    const QString host = hostOf(ipText.trimmed());
    if (host.isEmpty())
        return {};
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host, QUrl::StrictMode);
    url.setPath(QStringLiteral("/"));
    return url.isValid() && !url.host().isEmpty() ? url : QUrl();
}
