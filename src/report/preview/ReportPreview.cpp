#include "report/preview/ReportPreview.h"

#include "platform/Guarded.h"
#include "report/PagePainter.h"
#include "report/ReportFiles.h"
#include "report/preview/PageView.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Zoom entries: the factor, 0 for the page's width.
const QList<std::pair<QString, double>> kZooms = {
    {QStringLiteral("Ancho de página"), 0}, {QStringLiteral("50 %"), 0.5},
    {QStringLiteral("75 %"), 0.75},         {QStringLiteral("100 %"), 1.0},
    {QStringLiteral("150 %"), 1.5},         {QStringLiteral("200 %"), 2.0}};
constexpr int kDefaultZoom = 3; // 100 %

const QStringList kSaveFilters = {
    QStringLiteral("Documento PDF (*.pdf)"), QStringLiteral("Texto (*.txt)"),
    QStringLiteral("Valores separados por comas (*.csv)"), QStringLiteral("HTML (*.html *.htm)")};
const QStringList kSuffixes = {QStringLiteral("pdf"), QStringLiteral("txt"), QStringLiteral("csv"),
                               QStringLiteral("html")};

PreviewPresenter& presenter() {
    static PreviewPresenter instance;
    return instance;
}

} // namespace

TReportPreview::TReportPreview(ReportPages pages, QWidget* parent, SaveForms forms)
    : QDialog(parent), m_pages(std::move(pages)), m_forms(std::move(forms)) {
    setWindowTitle(m_pages.title);
    resize(1000, 700);
    auto* strip = new QHBoxLayout;
    addButton(QStringLiteral("|<"), QStringLiteral("Primera página"), &TReportPreview::bFirstClick);
    addButton(QStringLiteral("<"), QStringLiteral("Página anterior"), &TReportPreview::bPriorClick);
    addButton(QStringLiteral(">"), QStringLiteral("Página siguiente"), &TReportPreview::bNextClick);
    addButton(QStringLiteral(">|"), QStringLiteral("Última página"), &TReportPreview::bLastClick);
    m_pageLabel = new QLabel(this);
    m_zoom = new QComboBox(this);
    for (const auto& [text, factor] : kZooms)
        m_zoom->addItem(text, factor);
    addButton(QStringLiteral("Imprimir..."), QStringLiteral("Imprimir el reporte"),
              &TReportPreview::bPrintClick);
    addButton(QStringLiteral("Guardar..."), QStringLiteral("Guardar el reporte"),
              &TReportPreview::bSaveClick);
    for (int i = 0; i < 4; ++i)
        strip->addWidget(m_buttons[i]);
    strip->addWidget(m_pageLabel);
    strip->addSpacing(12);
    strip->addWidget(m_zoom);
    strip->addWidget(m_buttons[4]);
    strip->addWidget(m_buttons[5]);
    strip->addStretch();

    m_view = new TPageView;
    m_scroll = new QScrollArea(this);
    m_scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_scroll->setWidget(m_view);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(strip);
    layout->addWidget(m_scroll);

    m_zoom->setCurrentIndex(kDefaultZoom);
    setZoom(1.0);
    connect(m_zoom, &QComboBox::currentIndexChanged, this,
            [this](int index) { runGuarded([&] { cbZoomChange(index); }); });
    showPage(1);
}

QToolButton* TReportPreview::addButton(const QString& text, const QString& tip,
                                       void (TReportPreview::*click)()) {
    auto* button = new QToolButton(this);
    button->setText(text);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, this, guarded([this, click] { (this->*click)(); }));
    m_buttons << button;
    return button;
}

void TReportPreview::showPage(int number) {
    m_current = std::clamp(number, 1, std::max(1, pageCount()));
    m_view->setPage(pageCount() ? &m_pages.pages[size_t(m_current - 1)] : nullptr,
                    m_pages.pageSize);
    m_scroll->verticalScrollBar()->setValue(0);
    updatePageLabel();
}

void TReportPreview::updatePageLabel() {
    m_pageLabel->setText(QStringLiteral("Página %1 de %2").arg(m_current).arg(pageCount()));
}

void TReportPreview::setZoom(double zoom) {
    m_view->setZoom(std::clamp(zoom, 0.1, 8.0));
}

double TReportPreview::zoom() const {
    return m_view->zoom();
}

void TReportPreview::fitWidth() {
    const double available = m_scroll->viewport()->width() - 2;
    setZoom(available / (m_pages.pageSize.width() * m_view->naturalPixelsPerMm()));
}

void TReportPreview::cbZoomChange(int index) {
    const double factor = m_zoom->itemData(index).toDouble();
    if (factor > 0)
        setZoom(factor);
    else
        fitWidth();
}

void TReportPreview::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageDown:
        bNextClick();
        break;
    case Qt::Key_PageUp:
        bPriorClick();
        break;
    case Qt::Key_Home:
        bFirstClick();
        break;
    case Qt::Key_End:
        bLastClick();
        break;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TReportPreview::printOn(QPrinter& printer) {
    int from = printer.fromPage(), to = printer.toPage();
    if (from == 0 && to == 0)
        to = pageCount(), from = 1;
    paintPages(printer, m_pages, from, to);
}

void TReportPreview::preparePrinter(QPrinter& printer) const {
    printer.setDocName(m_pages.title);
    printer.setFullPage(true); // the bands carry their margins
    printer.setPageLayout(pageLayoutOf(m_pages.pageSize));
    printer.setCopyCount(1);
    printer.setFromTo(1, pageCount());
}

void TReportPreview::bPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    preparePrinter(printer);
    QPrintDialog dialog(&printer, this);
    dialog.setMinMax(1, pageCount());
    if (dialog.exec() == QDialog::Accepted)
        printOn(printer);
}

const SaveForm* TReportPreview::ownForm(const QString& suffix) const {
    for (const SaveForm& form : m_forms)
        if (form.suffix.compare(suffix, Qt::CaseInsensitive) == 0)
            return &form;
    return nullptr;
}

void TReportPreview::saveTo(const QString& path) {
    if (const SaveForm* form = ownForm(QFileInfo(path).suffix()))
        form->write(path);
    else
        saveReport(m_pages, path, reportFormatForPath(path));
}

QStringList TReportPreview::saveFilters() const {
    QStringList filters;
    for (qsizetype i = 0; i < kSuffixes.size(); ++i) {
        const SaveForm* form = ownForm(kSuffixes[i]);
        filters << (form && !form->filter.isEmpty() ? form->filter : kSaveFilters[i]);
    }
    for (const SaveForm& form : m_forms)
        if (!kSuffixes.contains(form.suffix, Qt::CaseInsensitive))
            filters << form.filter;
    return filters;
}

QStringList TReportPreview::saveSuffixes() const {
    QStringList suffixes = kSuffixes;
    for (const SaveForm& form : m_forms)
        if (!kSuffixes.contains(form.suffix, Qt::CaseInsensitive))
            suffixes << form.suffix;
    return suffixes;
}

void TReportPreview::bSaveClick() {
    QString filter;
    const QStringList filters = saveFilters();
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Guardar reporte"), QString(),
                                                filters.join(QStringLiteral(";;")), &filter);
    if (path.isEmpty())
        return;
    // A name without a suffix takes the one of the chosen entry.
    const qsizetype entry = filters.indexOf(filter);
    if (QFileInfo(path).suffix().isEmpty() && entry >= 0)
        path += QLatin1Char('.') + saveSuffixes().at(entry);
    saveTo(path);
}

void setPreviewPresenter(PreviewPresenter presenter_) {
    presenter() = std::move(presenter_);
}

void previewReport(const ReportPages& pages, QWidget* parent, const SaveForms& forms) {
    if (presenter()) {
        presenter()(pages, forms);
        return;
    }
    TReportPreview preview(pages, parent, forms);
    preview.exec();
}
