#pragma once

#include "report/PageBuilder.h"

#include <QWidget>

// One page of a report drawn at a zoom factor, on white paper.
class TPageView : public QWidget {
    Q_OBJECT
public:
    explicit TPageView(QWidget* parent = nullptr);
    void setPage(const ReportPage* page, QSizeF pageSizeMm);
    void setZoom(double zoom);
    double zoom() const { return m_zoom; }
    // Device pixels per millimetre at 100 % on this screen.
    double naturalPixelsPerMm() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double pixelsPerMm() const { return naturalPixelsPerMm() * m_zoom; }

    const ReportPage* m_page = nullptr;
    QSizeF m_pageSize{279.4, 215.9};
    double m_zoom = 1.0;
};
