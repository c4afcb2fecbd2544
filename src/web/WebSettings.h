#pragma once

#include "web/MetricsSettings.h"

#include <QString>
#include <QStringList>

// The office's web page as the settings of the server alias describe it:
// "Web" where it listens (as "Metricas": PORT, ADDRESS:PORT or
// [IPv6 ADDRESS]:PORT; absent or empty: off), "WebCertificado" and
// "WebClave" the PEM files for TLS, "WebCuentas" the accounts file and
// "WebInactividad" the minutes a session lasts unused.
struct WebSettings {
    MetricsListen listen;
    QString certificatePath, keyPath;
    QString accountsPath = QStringLiteral("/etc/kivo-ip/web-usuarios");
    int idleMinutes = 30;

    bool on() const { return listen.on(); }
    bool tls() const { return !certificatePath.isEmpty(); }
    bool operator==(const WebSettings&) const = default;
};

// Reads them; what cannot be read is named in problems and leaves the page off.
WebSettings loadWebSettings(const QString& serverAlias, QStringList& problems);

// Without TLS the page answers only on loopback: another address is replaced
// by 127.0.0.1 (or ::1) and the change is named in note.
WebSettings confinedToLoopback(WebSettings settings, QString& note);
