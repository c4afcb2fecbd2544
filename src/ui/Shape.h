#pragma once

#include <QColor>
#include <QWidget>

// A small filled circle whose brush colour can be set (an indicator lamp).
class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget* parent = nullptr);
    QColor BrushColor() const { return m_color; }
    void setBrushColor(const QColor& color);
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color = Qt::gray;
};
