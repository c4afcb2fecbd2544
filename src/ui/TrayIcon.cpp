#include "ui/TrayIcon.h"

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent) {
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::DoubleClick && OnDblClick)
                    OnDblClick();
            });
}
