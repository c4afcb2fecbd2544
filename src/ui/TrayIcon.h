#pragma once

#include <QIcon>
#include <QSystemTrayIcon>
#include <functional>

// The notification-area icon: a hint, and a double-click that brings the
// application back. No menu, no other click.
class TTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TTrayIcon(QObject* parent = nullptr);

    void setIcon(const QIcon& icon) { m_icon.setIcon(icon); }
    QString Hint() const { return m_icon.toolTip(); }
    void setHint(const QString& hint) { m_icon.setToolTip(hint); }
    void show() { m_icon.show(); }
    // A balloon over the icon; the last one is kept for those who ask.
    void showMessage(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon) {
        m_lastMessage = title + QStringLiteral(": ") + text;
        m_icon.showMessage(title, text, icon);
    }
    QString lastMessage() const { return m_lastMessage; }
    // Whether the desktop has a notification area to put the icon in.
    static bool available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

    std::function<void()> OnDblClick;

private:
    QSystemTrayIcon m_icon;
    QString m_lastMessage;
};
