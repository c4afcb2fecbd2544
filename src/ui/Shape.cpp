#include "ui/Shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
}

void TShape::setBrushColor(const QColor& color) {
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);
    painter.setBrush(m_color);
    painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
}
