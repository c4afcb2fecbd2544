#pragma once

#include "store/DataSet.h"

#include <QObject>

// The link between a data set and the controls that show it (grid,
// navigator, the window's handlers): every move and edit goes through it, so
// that all of them follow the current row and the state. The operations raise
// EDatabaseError as the data set does; controls run them guarded.
class TDataSource : public QObject {
    Q_OBJECT
public:
    using State = TDataSet::DataSetState;

    explicit TDataSource(QObject* parent = nullptr);

    // Not owned; nullptr unbinds. Binding shows what the data set holds now.
    void setDataSet(TDataSet* dataSet);
    TDataSet* dataSet() const { return m_dataSet; }

    // A read-only source refuses insert, edit and delete.
    void setReadOnly(bool readOnly);
    bool readOnly() const { return m_readOnly; }

    bool active() const;
    State state() const;
    // The rows a grid shows: the rows read, and an appended row while inserting.
    int rowCount() const;
    // The 0-based row a grid marks as current; -1 when there is none.
    int currentRow() const;
    // The field of a shown row; an invalid index gives an empty text.
    QString text(int row, int column) const;

    void open();
    void close(); // a row still in edit is discarded
    void first();
    void prior();
    void next();
    void last();
    void moveTo(int row);
    void insert(); // a new row after the others, where the table order puts it
    void edit();
    void post();
    void cancel();
    void remove(); // no question asked: the controls ask first
    // Moves to the row when needed, enters edit and stores the typed text.
    void setText(int row, int column, const QString& text);

    // How the shown rows changed, for the models that mirror them.
    enum class Change { Reset, Inserted, Removed, Values, Row };

signals:
    // The current row changed: a move, an insert, a delete, a dropped new row,
    // or the opening of the data set.
    void afterScroll();
    // Opened, closed, or browse / edit / insert changed.
    void stateChanged();
    void rowsChanged(TDataSource::Change change, int row);

private:
    TDataSet& requireDataSet() const;
    void requireWritable() const;
    // Runs a move; a new row left unchanged is dropped first instead of posted.
    template <typename Move> void moving(Move move);
    void dropUnchangedInsert();
    void announce(State before, int rowBefore, Change change, int row);

    TDataSet* m_dataSet = nullptr;
    bool m_readOnly = false;
};
