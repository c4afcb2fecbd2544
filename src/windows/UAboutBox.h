#pragma once

#include "windows/SecondaryWindow.h"

#include <QUrl>
#include <functional>

class QLabel;
class QToolButton;

// The about box; the main window sets its information line at every showing.
// The e-mail and web labels open their addresses through the shell.
class TFAboutBox : public TSecondaryWindow {
    Q_OBJECT
public:
    explicit TFAboutBox(QWidget* parent = nullptr);

    // The text of lDBinfo as the main window builds it (its lines end in CR).
    QString DBinfo() const { return m_dbinfo; }
    void setDBinfo(const QString& text);

    QLabel* lDBinfo;
    QLabel* Label7; // e-mail address
    QLabel* Label8; // web address
    QToolButton* sbCerrar;
    // How an address is opened: the shell by default; tests replace it.
    std::function<void(const QUrl&)> OpenAddress;

    void sbCerrarClick();
    void Label7Click();
    void Label8Click();

    static const QString kMail;
    static const QString kWeb;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* addLabel(const QString& text, QRect where, bool bold = false);
    void addSeparator(int y);
    void addPicture();
    void addContacts();

    QString m_dbinfo;
};
