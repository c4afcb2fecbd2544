#pragma once

#include "ui/DataSource.h"

#include <QAbstractTableModel>
#include <QStringList>

// The rows of a data source as a table model: every field of the data set in
// its order, titled with the field names in a bold navy font; the vertical
// header is the row indicator (current row, row in edit, new row). Values are
// the fields' texts in the regional formats; an edit goes to the data source,
// which stores it in the store's forms. A refused edit shows the standard
// error box and leaves the row as it was.
class TDataSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDataSetModel(TDataSource* source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The marks of the indicator column.
    static QString indicatorText(TDataSource::State state);

    // With row tips on, a cell's tip is its whole row, one "field: text" line
    // per field, so that a text cut by its column can be read.
    void setRowToolTips(bool on) { m_rowToolTips = on; }

private:
    void follow(TDataSource::Change change, int row);
    void reset();
    QStringList fieldTitles() const;
    QString rowText(int row) const;

    TDataSource* m_source;
    // What the views were last told, so that the change signals are
    // consistent even when the data set changed under the model.
    int m_rows = 0;
    QStringList m_titles;
    bool m_rowToolTips = false;
};
