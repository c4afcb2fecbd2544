#include "report/preview/PageView.h"

#include "report/PagePainter.h"

#include <QPainter>

TPageView::TPageView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPageView::setPage(const ReportPage* page, QSizeF pageSizeMm) {
    m_page = page;
    m_pageSize = pageSizeMm;
    update();
}

void TPageView::setZoom(double zoom) {
    m_zoom = zoom;
    resize(sizeHint());
    updateGeometry();
    update();
}

double TPageView::naturalPixelsPerMm() const {
    return logicalDpiX() / 25.4;
}

QSize TPageView::sizeHint() const {
    return (m_pageSize * pixelsPerMm()).toSize();
}

void TPageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (m_page)
        paintPage(painter, *m_page, pixelsPerMm());
}
