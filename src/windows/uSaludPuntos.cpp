#include "windows/uSaludPuntos.h"

#include "platform/Clock.h"
#include "platform/Guarded.h"
#include "platform/Regional.h"
#include "ui/SpinEdit.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// Short headings, so that the columns fit 1024 px; the full ones as their tips.
const QList<std::pair<QString, QString>> kHeaders{
    {QStringLiteral("Punto"), {}},
    {QStringLiteral("Descripción"), {}},
    {QStringLiteral("Loc"), {}},
    {QStringLiteral("Estado"), {}},
    {QStringLiteral("Último\néxito"), {}},
    {QStringLiteral("Último\nfallo"), {}},
    {QStringLiteral("Falla\ndesde"), QStringLiteral("Primer fallo de los fallos seguidos")},
    {QStringLiteral("Motivo"), QStringLiteral("Motivo del último fallo")},
    {QStringLiteral("Fallos"), QStringLiteral("Fallos seguidos")},
    {QStringLiteral("Reg.\núltimo"), QStringLiteral("Registros de la última descarga")},
    {QStringLiteral("Reg.\nhoy"), QStringLiteral("Registros de hoy")},
    {QStringLiteral("Próximo\nintento"), {}}};
constexpr int kReasonColumn = 7;
// Text columns that give up width before the reason does, elided beyond it.
constexpr int kNarrowedColumns[] = {1, 11};
constexpr int kNarrowedWidth = 120;
constexpr int kSpinWidth = 80;
constexpr int kFirstCountColumn = 8; // failures in a row, records of the last run, of today
constexpr int kCellPadding = 12;

// The regional short date over the long time, as the station's other windows
// write them: two lines keep the four time columns narrow.
QString when(const QDateTime& t) {
    if (!t.isValid())
        return {};
    const TDateTime value = toDateTime(t);
    return DateToStr(value) + QLatin1Char('\n') + TimeToStr(value);
}

// The shown text, and what the column sorts by.
QStandardItem* cell(const QString& text, const QVariant& sortBy) {
    auto* item = new QStandardItem(text);
    item->setData(sortBy, Qt::UserRole);
    item->setEditable(false);
    return item;
}

QStandardItem* timeCell(const QDateTime& t) {
    return cell(when(t), t.isValid() ? t.toString(Qt::ISODate) : QString());
}

QStandardItem* countCell(int n) {
    QStandardItem* item = cell(QString::number(n), n);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

TfSaludPuntos::TfSaludPuntos(QWidget* parent, Source source, PolicySaved saved)
    : TSecondaryWindow(parent, QStringLiteral("fSaludPuntos"),
                       QStringLiteral("Estado de los puntos"), {960, 420}),
      m_source(std::move(source)), m_saved(std::move(saved)) {
    setModal(false);
    for (const auto& [heading, tip] : kHeaders) {
        auto* item = new QStandardItem(heading);
        item->setToolTip(
            tip.isEmpty() ? QString(heading).replace(QLatin1Char('\n'), QLatin1Char(' ')) : tip);
        m_model.setHorizontalHeaderItem(m_model.columnCount(), item);
    }
    m_sorted.setSourceModel(&m_model);
    m_sorted.setSortRole(Qt::UserRole);
    gPuntos = new QTableView(this);
    gPuntos->setObjectName(QStringLiteral("gPuntos"));
    gPuntos->setModel(&m_sorted);
    gPuntos->setSortingEnabled(true);
    gPuntos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gPuntos->setSelectionBehavior(QAbstractItemView::SelectRows);
    gPuntos->verticalHeader()->hide();
    // The reason takes the width the others leave, elided; its tip is whole.
    gPuntos->horizontalHeader()->setSectionResizeMode(kReasonColumn, QHeaderView::Stretch);
    gPuntos->setTextElideMode(Qt::ElideRight);
    gPuntos->setWordWrap(false);
    gPuntos->sortByColumn(0, Qt::AscendingOrder);
    lResumen = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildSettingsStrip());
    layout->addWidget(gPuntos);
    layout->addWidget(lResumen);
}

// Two rows, so that the window fits 1024 px: the thresholds and the button,
// then the two switches.
QWidget* TfSaludPuntos::buildSettingsStrip() {
    auto* strip = new QWidget(this);
    auto* rows = new QVBoxLayout(strip);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* thresholds = new QHBoxLayout;
    auto* switches = new QHBoxLayout;
    rows->addLayout(thresholds);
    rows->addLayout(switches);
    seAlertaFallos = new TSpinEdit(strip);
    seAlertaFallos->setLimits(1, 1000, 1);
    seAlertaHoras = new TSpinEdit(strip);
    seAlertaHoras->setLimits(1, 24 * 365, 1);
    for (TSpinEdit* spin : {seAlertaFallos, seAlertaHoras})
        spin->setMaximumWidth(kSpinWidth);
    cbEspaciar = new QCheckBox(QStringLiteral("&Espaciar los intentos a puntos caídos"), strip);
    cbReintentar =
        new QCheckBox(QStringLiteral("&Reintentar una vez un corte o tiempo agotado"), strip);
    bGuardar = new QPushButton(QStringLiteral("&Guardar"), strip);
    thresholds->addWidget(new QLabel(QStringLiteral("Alertar tras"), strip));
    thresholds->addWidget(seAlertaFallos);
    thresholds->addWidget(new QLabel(QStringLiteral("fallos seguidos o"), strip));
    thresholds->addWidget(seAlertaHoras);
    thresholds->addWidget(new QLabel(QStringLiteral("horas sin éxito"), strip));
    thresholds->addStretch();
    thresholds->addWidget(bGuardar);
    switches->addWidget(cbEspaciar);
    switches->addWidget(cbReintentar);
    switches->addStretch();
    connect(bGuardar, &QPushButton::clicked, this, guarded([this] { bGuardarClick(); }));
    setPolicy(HealthPolicy{});
    return strip;
}

void TfSaludPuntos::setPolicy(const HealthPolicy& policy) {
    seAlertaFallos->setValue(policy.alertFailures);
    seAlertaHoras->setValue(policy.alertHours);
    cbEspaciar->setChecked(policy.backOff);
    cbReintentar->setChecked(policy.retry);
}

void TfSaludPuntos::bGuardarClick() {
    m_saved(HealthPolicy{seAlertaFallos->Value(), seAlertaHoras->Value(), cbEspaciar->isChecked(),
                         cbReintentar->isChecked()});
}

QColor TfSaludPuntos::stateColour(PointHealthView::State state) {
    switch (state) {
    case PointHealthView::State::Ok:
        return QColor(0xC6, 0xEF, 0xCE); // green
    case PointHealthView::State::Failing:
        return QColor(0xFF, 0xE0, 0x8A); // amber
    case PointHealthView::State::Down:
        return QColor(0xF4, 0x9A, 0x9A); // red
    case PointHealthView::State::Inactive:
        return QColor(0xD0, 0xD0, 0xD0); // grey
    case PointHealthView::State::Unknown:
        break;
    }
    return QColor(Qt::white);
}

void TfSaludPuntos::refresh() {
    try {
        fill(m_source());
    } catch (const std::exception& error) {
        lResumen->setText(QStringLiteral("ERROR: no se puede leer el estado de los puntos: ") +
                          QString::fromUtf8(error.what()));
    }
}

void TfSaludPuntos::fill(const QList<PointHealthView>& rows) {
    m_model.removeRows(0, m_model.rowCount());
    int down = 0, failing = 0;
    for (const PointHealthView& p : rows) {
        const QList<QStandardItem*> items{
            cell(p.ip, p.ip),           cell(p.desc, p.desc),
            cell(p.loc, p.loc),         cell(stateWord(p.state), static_cast<int>(p.state)),
            timeCell(p.lastSuccess),    timeCell(p.lastFailure),
            timeCell(p.failingSince),   cell(p.failureText, p.failureText),
            countCell(p.failuresInRow), countCell(p.recordsLast),
            countCell(p.recordsToday),  cell(p.nextTry, p.nextTry)};
        for (QStandardItem* item : items) {
            item->setBackground(stateColour(p.state));
            item->setToolTip(item->text());
        }
        m_model.appendRow(items);
        down += p.state == PointHealthView::State::Down;
        failing += p.state == PointHealthView::State::Failing;
    }
    fitColumns();
    lResumen->setText(QStringLiteral("%1 punto(s): %2 caído(s), %3 con fallos. Actualizado %4")
                          .arg(rows.size())
                          .arg(down)
                          .arg(failing)
                          .arg(TimeToStr(Time())));
}

// Every column to its contents but the reason, which takes what is left; the
// counts to their figures and headings without room for the sort mark, which
// only the sorted column shows.
void TfSaludPuntos::fitColumns() {
    for (int column = 0; column < m_model.columnCount(); ++column)
        if (column != kReasonColumn)
            gPuntos->resizeColumnToContents(column);
    for (int column = kFirstCountColumn; column < kFirstCountColumn + 3; ++column)
        gPuntos->setColumnWidth(column, countWidth(column));
    for (const int column : kNarrowedColumns)
        gPuntos->setColumnWidth(column, std::min(gPuntos->columnWidth(column), kNarrowedWidth));
    gPuntos->resizeRowsToContents();
}

int TfSaludPuntos::countWidth(int column) const {
    const QFontMetrics header(gPuntos->horizontalHeader()->font());
    const QFontMetrics cells(gPuntos->font());
    int width = 0;
    for (const QString& line :
         m_model.horizontalHeaderItem(column)->text().split(QLatin1Char('\n')))
        width = std::max(width, header.horizontalAdvance(line));
    for (int row = 0; row < m_model.rowCount(); ++row)
        width = std::max(width, cells.horizontalAdvance(m_model.item(row, column)->text()));
    return width + kCellPadding;
}
