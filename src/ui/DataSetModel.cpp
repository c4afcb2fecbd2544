#include "ui/DataSetModel.h"

#include "platform/Guarded.h"

#include <QColor>
#include <QFont>

TDataSetModel::TDataSetModel(TDataSource* source, QObject* parent)
    : QAbstractTableModel(parent), m_source(source) {
    connect(source, &TDataSource::rowsChanged, this, &TDataSetModel::follow);
    connect(source, &TDataSource::stateChanged, this, [this] {
        if (m_rows > 0)
            emit headerDataChanged(Qt::Vertical, 0, m_rows - 1);
    });
    m_rows = source->rowCount();
    m_titles = fieldTitles();
}

QStringList TDataSetModel::fieldTitles() const {
    QStringList titles;
    TDataSet* dataSet = m_source->dataSet();
    if (!m_source->active())
        return titles;
    for (int i = 0; i < dataSet->FieldCount(); ++i)
        titles << dataSet->Fields(i).DisplayName();
    return titles;
}

int TDataSetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

void TDataSetModel::reset() {
    beginResetModel();
    m_rows = m_source->rowCount();
    m_titles = fieldTitles();
    endResetModel();
}

// Mirrors a change of the data source with the finest signal that keeps the
// model consistent; anything unexpected becomes a reset.
void TDataSetModel::follow(TDataSource::Change change, int row) {
    using Change = TDataSource::Change;
    const int rows = m_source->rowCount();
    if (change == Change::Inserted && rows == m_rows + 1 && row >= 0 && row <= m_rows) {
        beginInsertRows({}, row, row);
        m_rows = rows;
        endInsertRows();
    } else if (change == Change::Removed && rows == m_rows - 1 && row == m_rows - 1) {
        // Only the last row can go with its own signal: when another row goes,
        // the data set has already moved the rows after it.
        beginRemoveRows({}, row, row);
        m_rows = rows;
        endRemoveRows();
    } else if ((change == Change::Values || change == Change::Row) && rows == m_rows &&
               fieldTitles() == m_titles) {
        if (m_rows == 0)
            return;
        const bool one = change == Change::Row && row >= 0 && row < m_rows;
        emit dataChanged(index(one ? row : 0, 0), index(one ? row : m_rows - 1, columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, 0, m_rows - 1);
    } else {
        reset();
    }
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_source->text(index.row(), index.column());
    if (role == Qt::ToolTipRole && m_rowToolTips)
        return rowText(index.row());
    return {};
}

QString TDataSetModel::rowText(int row) const {
    QStringList lines;
    for (int column = 0; column < m_titles.size(); ++column)
        lines << m_titles[column] + QStringLiteral(": ") + m_source->text(row, column);
    return lines.join(QLatin1Char('\n'));
}

bool TDataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    const QString text = value.toString();
    if (text == m_source->text(index.row(), index.column()))
        return true; // an editor closed without a change leaves the row alone
    bool stored = false;
    runGuarded([&] {
        m_source->setText(index.row(), index.column(), text);
        stored = true;
    });
    return stored;
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && !m_source->readOnly())
        flags |= Qt::ItemIsEditable;
    return flags;
}

QString TDataSetModel::indicatorText(TDataSource::State state) {
    switch (state) {
    case TDataSource::State::Edit:
        return QStringLiteral("I");
    case TDataSource::State::Insert:
        return QStringLiteral("*");
    default:
        return QStringLiteral("\u25B6");
    }
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= m_titles.size())
            return {};
        if (role == Qt::DisplayRole)
            return m_titles[section];
        if (role == Qt::ForegroundRole)
            return QColor(Qt::darkBlue); // navy
        if (role == Qt::FontRole) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    }
    if (role == Qt::DisplayRole && section >= 0 && section < m_rows)
        return section == m_source->currentRow() ? indicatorText(m_source->state()) : QString();
    return {};
}
