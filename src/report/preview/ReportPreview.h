#pragma once

#include "report/PageBuilder.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QLabel;
class QPrinter;
class QScrollArea;
class QToolButton;
class TPageView;

// The preview of a built report: pages through it, zooms, prints through a
// print dialog and saves as PDF, text, comma-separated values or HTML.
class TReportPreview : public QDialog {
    Q_OBJECT
public:
    explicit TReportPreview(ReportPages pages, QWidget* parent = nullptr);

    int pageCount() const { return int(m_pages.pages.size()); }
    int currentPage() const { return m_current; }
    void showPage(int number); // 1-based, kept within the pages
    void setZoom(double zoom); // 1.0 is 100 %
    double zoom() const;
    void fitWidth();

    // The print job: the report's title, its paper, one copy, all pages.
    void preparePrinter(QPrinter& printer) const;
    // What the print and save buttons do once their dialogs have answered:
    // the printer's page range, or every page.
    void printOn(QPrinter& printer);
    void saveTo(const QString& path);

    void bFirstClick() { showPage(1); }
    void bPriorClick() { showPage(m_current - 1); }
    void bNextClick() { showPage(m_current + 1); }
    void bLastClick() { showPage(pageCount()); }
    void bPrintClick();
    void bSaveClick();
    void cbZoomChange(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QToolButton* addButton(const QString& text, const QString& tip,
                           void (TReportPreview::*click)());
    void updatePageLabel();

    ReportPages m_pages;
    int m_current = 1;
    QScrollArea* m_scroll = nullptr;
    TPageView* m_view = nullptr;
    QLabel* m_pageLabel = nullptr;
    QComboBox* m_zoom = nullptr;
    QList<QToolButton*> m_buttons;
};

// Shows the preview modally and returns when it has been closed. Tests
// replace the presenter to see the pages without a window.
using PreviewPresenter = std::function<void(const ReportPages& pages)>;
void setPreviewPresenter(PreviewPresenter presenter);
void previewReport(const ReportPages& pages, QWidget* parent);
