#pragma once

#include <QLabel>
#include <QStatusBar>

// A status line of one simple panel that keeps its text until it is replaced.
class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget* parent = nullptr) : QStatusBar(parent), m_panel(new QLabel(this)) {
        addWidget(m_panel, 1);
    }
    QString SimpleText() const { return m_panel->text(); }
    void setSimpleText(const QString& text) { m_panel->setText(text); }

private:
    QLabel* m_panel;
};
