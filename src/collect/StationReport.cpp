#include "collect/StationReport.h"

#include "platform/Regional.h"

QString transferStatusText(const TransferProgress& progress) {
    return QStringLiteral("FTP: %1/%2 - ").arg(progress.received).arg(progress.size) +
           progress.host + QStringLiteral(" (") + progress.desc + QStringLiteral(") ") + NowText();
}
