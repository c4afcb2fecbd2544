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

const QStringList kHeaders{QStringLiteral("Punto"),
                           QStringLiteral("Descripción"),
                           QStringLiteral("Loc"),
                           QStringLiteral("Estado"),
                           QStringLiteral("Último intento"),
                           QStringLiteral("Último éxito"),
                           QStringLiteral("Último fallo"),
                           QStringLiteral("Motivo del fallo"),
                           QStringLiteral("Fallos seguidos"),
                           QStringLiteral("Registros último"),
                           QStringLiteral("Registros hoy"),
                           QStringLiteral("Próximo intento")};

// In the regional short date and long time, as the station's other windows.
QString when(const QDateTime& t) {
    return t.isValid() ? DateAndTimeToStr(toDateTime(t)) : QString();
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
    m_model.setHorizontalHeaderLabels(kHeaders);
    m_sorted.setSourceModel(&m_model);
    m_sorted.setSortRole(Qt::UserRole);
    gPuntos = new QTableView(this);
    gPuntos->setObjectName(QStringLiteral("gPuntos"));
    gPuntos->setModel(&m_sorted);
    gPuntos->setSortingEnabled(true);
    gPuntos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gPuntos->setSelectionBehavior(QAbstractItemView::SelectRows);
    gPuntos->verticalHeader()->hide();
    gPuntos->horizontalHeader()->setStretchLastSection(true);
    gPuntos->sortByColumn(0, Qt::AscendingOrder);
    lResumen = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildSettingsStrip());
    layout->addWidget(gPuntos);
    layout->addWidget(lResumen);
}

QWidget* TfSaludPuntos::buildSettingsStrip() {
    auto* strip = new QWidget(this);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 0, 0);
    seAlertaFallos = new TSpinEdit(strip);
    seAlertaFallos->setLimits(1, 1000, 1);
    seAlertaHoras = new TSpinEdit(strip);
    seAlertaHoras->setLimits(1, 24 * 365, 1);
    cbEspaciar = new QCheckBox(QStringLiteral("&Espaciar los intentos a puntos caídos"), strip);
    cbReintentar =
        new QCheckBox(QStringLiteral("&Reintentar una vez un corte o tiempo agotado"), strip);
    bGuardar = new QPushButton(QStringLiteral("&Guardar"), strip);
    row->addWidget(new QLabel(QStringLiteral("Alertar tras"), strip));
    row->addWidget(seAlertaFallos);
    row->addWidget(new QLabel(QStringLiteral("fallos seguidos o"), strip));
    row->addWidget(seAlertaHoras);
    row->addWidget(new QLabel(QStringLiteral("horas sin éxito"), strip));
    row->addWidget(cbEspaciar);
    row->addWidget(cbReintentar);
    row->addStretch();
    row->addWidget(bGuardar);
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
            timeCell(p.lastAttempt),    timeCell(p.lastSuccess),
            timeCell(p.lastFailure),    cell(p.failureText, p.failureText),
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
    gPuntos->resizeColumnsToContents();
    lResumen->setText(QStringLiteral("%1 punto(s): %2 caído(s), %3 con fallos. Actualizado %4")
                          .arg(rows.size())
                          .arg(down)
                          .arg(failing)
                          .arg(TimeToStr(Time())));
}
