#pragma once

#include "collect/PointHealth.h"
#include "windows/SecondaryWindow.h"

#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;
class TSpinEdit;

// "Estado de los puntos": one row per registration point with its health,
// coloured by state, sortable and read-only. It follows the cycles while it is
// open: the owner calls refresh() whenever a point's health changes. The
// settings strip edits the alert thresholds, back-off and retry.
class TfSaludPuntos : public TSecondaryWindow {
    Q_OBJECT
public:
    using Source = std::function<QList<PointHealthView>()>;
    using PolicySaved = std::function<void(const HealthPolicy&)>;
    TfSaludPuntos(QWidget* parent, Source source, PolicySaved saved);

    // Reads the rows again; a source that fails is said in the label.
    void refresh();
    void setPolicy(const HealthPolicy& policy);

    void FormShow() override { refresh(); }

    // Text and colour of each state (green, amber, red, grey).
    static QColor stateColour(PointHealthView::State state);

    QTableView* gPuntos;
    QLabel* lResumen;
    TSpinEdit* seAlertaFallos;
    TSpinEdit* seAlertaHoras;
    QCheckBox* cbEspaciar;
    QCheckBox* cbReintentar;
    QPushButton* bGuardar;

private:
    QWidget* buildSettingsStrip();
    void fill(const QList<PointHealthView>& rows);
    void fitColumns();
    int countWidth(int column) const;
    void bGuardarClick();

    Source m_source;
    PolicySaved m_saved;
    QStandardItemModel m_model;
    QSortFilterProxyModel m_sorted;
};
