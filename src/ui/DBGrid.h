#pragma once

#include "ui/DataSource.h"

#include <QMap>
#include <QTableView>
#include <memory>

class TDataSetModel;
class TTable;

// A data-aware grid: shows every field of a data source's data set, follows
// and sets its current row, and edits in place. Keys: Tab moves from cell to
// cell, Insert adds a row, Ctrl+Delete deletes the row after the question
// "Delete record?", Escape cancels the edit, Down on the last row appends.
// A new row left unchanged is dropped when the grid loses the focus.
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    // Binds to a data source (not owned), or to a data set through a data
    // source of the grid's own, or to a table of an alias that the grid owns
    // (opened by the caller through dataSource()->open()).
    void setDataSource(TDataSource* source);
    void setDataSet(TDataSet* dataSet);
    void setTable(const QString& alias, const QString& tableName);
    TDataSource* dataSource() const { return m_source; }
    TDataSetModel* dataModel() const { return m_model.get(); }

    // Read-only: no editing, inserting or deleting from the grid.
    void setReadOnly(bool readOnly);
    bool readOnly() const;
    // The row indicator column (on by default) and the lines between cells.
    void setIndicator(bool shown);
    // Selecting whole rows instead of cells.
    void setRowSelect(bool rowSelect);
    // A cell's tip shows its whole row (off by default).
    void setRowToolTips(bool on);
    // The longest text the cell editor of a field (by its title) accepts.
    void setMaxLength(const QString& fieldName, int length);

    // The current row of the data source, 0-based; -1 when there is none.
    int currentRow() const;
    void setCurrentRow(int row);

signals:
    // The data source's current row changed (the data set's after-scroll).
    void currentRowChanged(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void bind(TDataSource* source);
    void showSourceRow();
    void fitColumns();
    void deleteWithQuestion();
    void leaveEmptyNewRow();

    TDataSource* m_source = nullptr;
    std::unique_ptr<TDataSource> m_ownSource;
    std::unique_ptr<TTable> m_ownTable;
    std::unique_ptr<TDataSetModel> m_model;
    QMap<QString, int> m_maxLengths;
    bool m_following = false; // the view is being moved to the source's row
    bool m_rowToolTips = false;
};
