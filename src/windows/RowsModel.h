#pragma once

#include "report/DataSetRows.h"

#include <QAbstractTableModel>

// A read-only grid model over the text forms of a data set's rows, titled
// with the column names.
class TRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setRows(ReportRows rows);
    void clear() { setRows({}); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    ReportRows m_rows;
};
