#include "ui/DataSource.h"

TDataSource::TDataSource(QObject* parent) : QObject(parent) {}

void TDataSource::setDataSet(TDataSet* dataSet) {
    m_dataSet = dataSet;
    emit rowsChanged(Change::Reset, -1);
    emit stateChanged();
}

void TDataSource::setReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    emit stateChanged();
}

TDataSet& TDataSource::requireDataSet() const {
    if (!m_dataSet)
        throw EDatabaseError(QStringLiteral("Missing data set"));
    return *m_dataSet;
}

void TDataSource::requireWritable() const {
    if (m_readOnly)
        throw EDatabaseError(QStringLiteral("Cannot modify a read-only data set"));
}

bool TDataSource::active() const {
    return m_dataSet && m_dataSet->Active();
}

TDataSource::State TDataSource::state() const {
    return m_dataSet ? m_dataSet->DataState() : State::Inactive;
}

int TDataSource::rowCount() const {
    if (!active())
        return 0;
    try {
        return m_dataSet->RecordCount() + (state() == State::Insert ? 1 : 0);
    } catch (const std::exception&) {
        return 0; // rows that cannot be read show as none
    }
}

int TDataSource::currentRow() const {
    if (!active())
        return -1;
    try {
        if (state() == State::Insert)
            return m_dataSet->RecordCount();
        return m_dataSet->RecNo() - 1;
    } catch (const std::exception&) {
        return -1;
    }
}

QString TDataSource::text(int row, int column) const {
    if (!active() || row < 0 || column < 0 || column >= m_dataSet->FieldCount())
        return {};
    try {
        return m_dataSet->FieldAt(row, column).Text();
    } catch (const std::exception&) {
        return {};
    }
}

void TDataSource::announce(State before, int rowBefore, Change change, int row) {
    emit rowsChanged(change, row);
    if (state() != before)
        emit stateChanged();
    if (currentRow() != rowBefore || change == Change::Inserted || change == Change::Removed)
        emit afterScroll();
}

void TDataSource::open() {
    TDataSet& dataSet = requireDataSet();
    dataSet.Open();
    emit rowsChanged(Change::Reset, -1);
    emit stateChanged();
    emit afterScroll();
}

void TDataSource::close() {
    if (!m_dataSet)
        return;
    m_dataSet->Cancel();
    m_dataSet->Close();
    emit rowsChanged(Change::Reset, -1);
    emit stateChanged();
}

// Leaving a new row that nobody filled in drops it: an empty row is no record.
void TDataSource::dropUnchangedInsert() {
    if (state() != State::Insert || m_dataSet->Modified())
        return;
    const int row = currentRow();
    m_dataSet->Cancel();
    announce(State::Insert, row, Change::Removed, row);
}

template <typename Move> void TDataSource::moving(Move move) {
    TDataSet& dataSet = requireDataSet();
    dropUnchangedInsert();
    const State before = state();
    const int rowBefore = currentRow();
    move(dataSet);
    // A pending edit was posted on the way: the rows were read again.
    announce(before, rowBefore, before == State::Browse ? Change::Row : Change::Values, rowBefore);
}

void TDataSource::first() {
    moving([](TDataSet& d) { d.First(); });
}

void TDataSource::prior() {
    moving([](TDataSet& d) { d.Prior(); });
}

void TDataSource::next() {
    moving([](TDataSet& d) { d.Next(); });
}

void TDataSource::last() {
    moving([](TDataSet& d) { d.Last(); });
}

void TDataSource::moveTo(int row) {
    if (row == currentRow())
        return;
    moving([row](TDataSet& d) { d.MoveTo(row + 1); });
}

void TDataSource::insert() {
    TDataSet& dataSet = requireDataSet();
    requireWritable();
    if (state() == State::Insert && !dataSet.Modified())
        return; // already on an empty new row
    const State before = state();
    const int rowBefore = currentRow();
    if (before != State::Browse) {
        dataSet.Post();
        emit rowsChanged(Change::Values, -1);
    }
    dataSet.Append();
    announce(before, rowBefore, Change::Inserted, currentRow());
}

void TDataSource::edit() {
    TDataSet& dataSet = requireDataSet();
    requireWritable();
    const State before = state();
    const int rowBefore = currentRow();
    if (before != State::Browse)
        return;
    const bool empty = dataSet.RecordCount() == 0;
    dataSet.Edit(); // an empty table gets a new row instead
    announce(before, rowBefore, empty ? Change::Inserted : Change::Row, currentRow());
}

void TDataSource::post() {
    TDataSet& dataSet = requireDataSet();
    const State before = state();
    const int rowBefore = currentRow();
    dataSet.Post();
    announce(before, rowBefore, Change::Values, rowBefore);
}

void TDataSource::cancel() {
    TDataSet& dataSet = requireDataSet();
    const State before = state();
    const int rowBefore = currentRow();
    dataSet.Cancel();
    announce(before, rowBefore, before == State::Insert ? Change::Removed : Change::Row, rowBefore);
}

void TDataSource::remove() {
    TDataSet& dataSet = requireDataSet();
    if (state() == State::Insert) {
        cancel(); // a row not yet stored is only dropped
        return;
    }
    requireWritable();
    const State before = state();
    const int rowBefore = currentRow();
    dataSet.Delete();
    announce(before, rowBefore, Change::Removed, rowBefore);
}

void TDataSource::setText(int row, int column, const QString& text) {
    TDataSet& dataSet = requireDataSet();
    requireWritable();
    if (row != currentRow())
        moveTo(row);
    if (state() == State::Browse)
        edit();
    dataSet.Fields(column).setText(text);
    emit rowsChanged(Change::Row, currentRow());
}
