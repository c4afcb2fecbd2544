#pragma once

#include "windows/SecondaryWindow.h"

class QLabel;

// The about box; the main window sets its information line at every showing.
class TFAboutBox : public TSecondaryWindow {
    Q_OBJECT
public:
    explicit TFAboutBox(QWidget* parent = nullptr);

    // The text of lDBinfo as the main window builds it (its lines end in CR).
    QString DBinfo() const { return m_dbinfo; }
    void setDBinfo(const QString& text);

    QLabel* lDBinfo;

private:
    QString m_dbinfo;
};
