#include "windows/uRegAsist.h"

#include "platform/Clock.h"
#include "platform/ErrorBox.h"
#include "platform/Guarded.h"
#include "platform/Regional.h"
#include "report/BillingSummary.h"
#include "report/DataSetRows.h"
#include "report/PageBuilder.h"
#include "report/TicketExport.h"
#include "report/preview/ReportPreview.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"
#include "windows/upConsulta1.h"

#include <QDateEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

constexpr int kStripHeight = 65;
enum ExportEntry { kCsvEntry = 0, kAllEntry = 1, kWorkbookEntry = 2 };
// The two entries of the original dialog first, the workbook after them.
const QStringList kExportFilters = {QStringLiteral("Archivos excel (*.csv)"),
                                    QStringLiteral("Todos (*.*)"),
                                    QStringLiteral("Libro de Excel (*.xlsx)")};

// Closes a data set however the operation ends.
struct ClosesAtEnd {
    TDataSet& dataSet;
    ~ClosesAtEnd() { dataSet.Close(); }
};

// The short date picture as a Qt display format: "/" is the date separator.
QString pickerFormat() {
    QString format = formatSettings().shortDateFormat;
    return format.replace(QLatin1Char('/'), formatSettings().dateSeparator);
}

QDateEdit* datePicker(QWidget* parent) {
    auto* picker = new QDateEdit(parent);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(pickerFormat());
    return picker;
}

// The export button's 16 x 16 picture in the 16 standard colours: a sheet
// with green rows and an arrow.
QIcon exportIcon() {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(1, 1, 11, 14, Qt::white);
    p.setPen(Qt::black);
    p.drawRect(1, 1, 10, 13);
    p.setPen(Qt::darkGreen);
    for (int y = 4; y < 14; y += 3)
        p.drawLine(3, y, 9, y);
    p.setPen(QPen(Qt::blue, 2));
    p.drawLine(9, 10, 14, 10);
    p.drawLine(12, 7, 14, 10);
    p.drawLine(12, 13, 14, 10);
    return QIcon(
        QPixmap::fromImage(image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither)));
}

} // namespace

TfRegAsist::TfRegAsist(QWidget* parent)
    : TSecondaryWindow(parent, QStringLiteral("fRegAsist"),
                       QStringLiteral("Registros de asistencia"), {1076, 632}) {
    DataSource1.setDataSet(&Table1);
    DataSource1.setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildStrip());
    buildGrid();
    layout->addWidget(DBGrid1);
    SaveDialog1Execute = [this](int& filterIndex) { return executeSaveDialog(filterIndex); };
}

QWidget* TfRegAsist::buildStrip() {
    auto* strip = new QWidget(this);
    strip->setFixedHeight(kStripHeight);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(6, 2, 6, 4);
    DBNavigator1 = TDBNavigator::browser(strip, &DataSource1);
    row->addWidget(DBNavigator1);
    row->addSpacing(16);
    dtpDesde = datePicker(strip);
    dtpHasta = datePicker(strip);
    row->addWidget(new QLabel(QStringLiteral("Desde:"), strip));
    row->addWidget(dtpDesde);
    row->addWidget(new QLabel(QStringLiteral("Hasta:"), strip));
    row->addWidget(dtpHasta);
    bRep = new QPushButton(QStringLiteral("Reporte"), strip);
    bRep->setAutoDefault(false); // Enter is the export button's
    row->addWidget(bRep);
    connect(bRep, &QPushButton::clicked, this, guarded([this] { bRepClick(); }));
    bResumen = new QPushButton(QStringLiteral("Resumen"), strip);
    bResumen->setToolTip(QStringLiteral("Resumen por centro de costo"));
    bResumen->setAutoDefault(false);
    row->addWidget(bResumen);
    connect(bResumen, &QPushButton::clicked, this, guarded([this] { bResumenClick(); }));

    gbExportar = new QGroupBox(QStringLiteral(" Exportar "), strip);
    auto* group = new QHBoxLayout(gbExportar);
    group->setContentsMargins(8, 2, 8, 2);
    group->addWidget(new QLabel(QStringLiteral("Separador:"), gbExportar));
    eSep = new QLineEdit(QStringLiteral(";"), gbExportar);
    eSep->setMaxLength(1);
    eSep->setFixedWidth(28);
    group->addWidget(eSep);
    TBExportar = new QPushButton(gbExportar);
    TBExportar->setIcon(exportIcon());
    TBExportar->setIconSize(QSize(16, 16));
    TBExportar->setFlat(true);
    TBExportar->setToolTip(QStringLiteral("Exportar"));
    TBExportar->setDefault(true);
    group->addWidget(TBExportar);
    connect(TBExportar, &QPushButton::clicked, this, guarded([this] { TBExportarClick(); }));
    row->addWidget(gbExportar);
    row->addStretch();
    return strip;
}

void TfRegAsist::buildGrid() {
    DBGrid1 = new TDBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setDataSource(&DataSource1);
    DBGrid1->setReadOnly(true);
    DBGrid1->setIndicator(false);
    DBGrid1->setRowSelect(true);
    QHeaderView* titles = DBGrid1->horizontalHeader();
    QFont bold = titles->font();
    bold.setBold(true);
    titles->setFont(bold);
    QPalette navy = titles->palette();
    navy.setColor(QPalette::ButtonText, QColor(0, 0, 0x80));
    titles->setPalette(navy);
}

// The grid and navigator outlive the data set and source members: unbind them
// before those go.
TfRegAsist::~TfRegAsist() {
    DBGrid1->setDataSource(nullptr);
    DBNavigator1->setDataSource(nullptr);
}

int TfRegAsist::ShowModal() {
    if (Table1.DatabaseName == kNoServerAlias) {
        showMessageBox(kApplicationTitle, kNoServerTableText, BoxIcon::Information);
        return QDialog::Rejected;
    }
    return TSecondaryWindow::ShowModal();
}

void TfRegAsist::FormShow() {
    DataSource1.open();
    DataSource1.last();
    const QDate today = toQDate(Date());
    dtpDesde->setDate(QDate(today.year(), today.month(), 1));
    dtpHasta->setDate(today);
}

void TfRegAsist::FormClose() {
    DataSource1.close();
}

QDate TfRegAsist::desde() const {
    return dtpDesde->date();
}

QDate TfRegAsist::hasta() const {
    return dtpHasta->date();
}

void TfRegAsist::bRepClick() {
    if (!fpConsulta1)
        throw Exception(QStringLiteral("No report layout"));
    TQuery& query = fpConsulta1->Table1;
    query.Close();
    query.SQL = ticketRangeSql(desde(), hasta());
    query.Open();
    ClosesAtEnd closes{query};
    const ReportPages pages = buildPages(fpConsulta1->Report1, rowsOf(query));
    previewReport(pages, this);
}

void TfRegAsist::bResumenClick() {
    const QDate from = desde(), to = hasta();
    // A reversed range would print a summary of nothing that reads like a
    // period with nothing to bill.
    if (to < from) {
        showMessageBox(kApplicationTitle, reversedRangeText(from, to), BoxIcon::Warning);
        return;
    }
    const ReportRows rows = summaryRows(from, to);
    const ReportPages pages = buildPages(billingSummaryDefinition(from, to), rows);
    previewReport(pages, this, summarySaveForms(rows, from, to));
}

// Saved as separated values or a workbook, the summary is a data table
// rather than its pages.
SaveForms TfRegAsist::summarySaveForms(const ReportRows& rows, const QDate& from, const QDate& to) {
    return {{{},
             QStringLiteral("csv"),
             [rows, from, to](const QString& path) {
                 writeBillingSeparatedValues(path, rows, from, to);
             }},
            {kExportFilters[kWorkbookEntry], QStringLiteral("xlsx"),
             [this, rows, from, to](const QString& path) {
                 writeSummaryWorkbook(path, rows, from, to);
             }}};
}

ReportRows TfRegAsist::summaryRows(const QDate& from, const QDate& to) {
    Query1.Close();
    Query1.SQL = billingSummarySql(from, to);
    Query1.Open();
    ClosesAtEnd closes{Query1};
    return billingSummaryRows(Query1);
}

void TfRegAsist::writeSummaryWorkbook(const QString& path, const ReportRows& summary,
                                      const QDate& from, const QDate& to) {
    Query1.Close();
    Query1.SQL = ticketRangeSql(from, to);
    Query1.Open();
    ClosesAtEnd closes{Query1};
    writeBillingWorkbook(path, summary, Query1, from, to);
}

void TfRegAsist::TBExportarClick() {
    Query1.Close();
    Query1.SQL = ticketRangeSql(desde(), hasta());
    Query1.Open();
    ClosesAtEnd closes{Query1};
    int filterIndex = kCsvEntry;
    const QString path = SaveDialog1Execute(filterIndex);
    if (path.isEmpty())
        return;
    if (filterIndex == kWorkbookEntry ||
        QFileInfo(path).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0)
        writeTicketWorkbook(path, Query1, desde(), hasta());
    else
        writeTicketExport(path, Query1, desde(), hasta(), eSep->text());
}

QString reversedRangeText(const QDate& from, const QDate& to) {
    return QStringLiteral("No se puede hacer el resumen: la fecha \"Hasta\" (%1) es anterior a la "
                          "fecha \"Desde\" (%2).")
        .arg(DateToStr(toDateTime(to)), DateToStr(toDateTime(from)));
}

QString TfRegAsist::executeSaveDialog(int& filterIndex) {
    QString filter;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar reporte"), QString(),
                                                kExportFilters.join(QStringLiteral(";;")), &filter,
                                                QFileDialog::DontConfirmOverwrite);
    filterIndex = std::max(0, int(kExportFilters.indexOf(filter)));
    // The default extension, or the workbook's for its entry.
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += filterIndex == kWorkbookEntry ? QStringLiteral(".xlsx") : QStringLiteral(".csv");
    return path;
}
