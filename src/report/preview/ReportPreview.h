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

// A form in which the report's owner saves the report from its data rather
// than from the pages (the summary's data table as separated values, its
// workbook). One with the suffix of a form of the preview's own takes that
// form's place in the save dialog; any other is offered after them.
struct SaveForm {
    QString filter; // the dialog entry, "Libro de Excel (*.xlsx)"; empty: the preview's own
    QString suffix; // "xlsx"
    std::function<void(const QString& path)> write;
};
using SaveForms = std::vector<SaveForm>;

// The preview of a built report: pages through it, zooms, prints through a
// print dialog and saves as PDF, text, comma-separated values or HTML, or in
// the owner's forms.
class TReportPreview : public QDialog {
    Q_OBJECT
public:
    explicit TReportPreview(ReportPages pages, QWidget* parent = nullptr, SaveForms forms = {});

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
    // The format after the path's suffix.
    void saveTo(const QString& path);
    // The save dialog's entries and the suffix each gives a bare name.
    QStringList saveFilters() const;
    QStringList saveSuffixes() const;

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
    const SaveForm* ownForm(const QString& suffix) const;

    ReportPages m_pages;
    SaveForms m_forms;
    int m_current = 1;
    QScrollArea* m_scroll = nullptr;
    TPageView* m_view = nullptr;
    QLabel* m_pageLabel = nullptr;
    QComboBox* m_zoom = nullptr;
    QList<QToolButton*> m_buttons;
};

// Shows the preview modally and returns when it has been closed. Tests
// replace the presenter to see the pages without a window.
using PreviewPresenter = std::function<void(const ReportPages& pages, const SaveForms& forms)>;
void setPreviewPresenter(PreviewPresenter presenter);
void previewReport(const ReportPages& pages, QWidget* parent, const SaveForms& forms = {});
