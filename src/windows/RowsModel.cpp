#include "windows/RowsModel.h"

void TRowsModel::setRows(ReportRows rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int TRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.rows.size());
}

int TRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.fieldNames.size());
}

QVariant TRowsModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    return m_rows.rows[size_t(index.row())].value(index.column());
}

QVariant TRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_rows.fieldNames.value(section);
}
