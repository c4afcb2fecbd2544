#pragma once

#include "platform/Regional.h"
#include "platform/Registry.h"

#include <QtGlobal>

// Regional formats of a Spanish-speaking office in the registry file
// (dd/MM/yyyy, HH:mm:ss, "/"), and the decimal separator when one is given;
// the station's formats read them at once.
inline void setOfficeRegionalFormats(const QString& decimal = {}) {
    TRegistry registry;
    if (!registry.OpenKey(QStringLiteral("\\Control Panel\\International"), true))
        qFatal("cannot write the regional settings");
    registry.WriteString(QStringLiteral("sShortDate"), QStringLiteral("dd/MM/yyyy"));
    registry.WriteString(QStringLiteral("sLongTime"), QStringLiteral("HH:mm:ss"));
    registry.WriteString(QStringLiteral("sDate"), QStringLiteral("/"));
    if (!decimal.isEmpty())
        registry.WriteString(QStringLiteral("sDecimal"), decimal);
    registry.CloseKey();
    reloadFormatSettings();
}
