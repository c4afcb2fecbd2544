#include "ui/DBGrid.h"

#include "platform/Guarded.h"
#include "ui/Confirm.h"
#include "ui/DataSetModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>

namespace {

// The selection keeps its colour when the grid does not have the focus.
void keepSelectionColour(QWidget* widget) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    widget->setPalette(palette);
}

// Cell editors limited to the length of their field's column definition.
class FieldDelegate : public QStyledItemDelegate {
public:
    FieldDelegate(const QMap<QString, int>& maxLengths, QObject* parent)
        : QStyledItemDelegate(parent), m_maxLengths(maxLengths) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        const QString field =
            index.model()->headerData(index.column(), Qt::Horizontal).toString().toUpper();
        if (auto* line = qobject_cast<QLineEdit*>(editor); line && m_maxLengths.contains(field))
            line->setMaxLength(m_maxLengths[field]);
        return editor;
    }

private:
    const QMap<QString, int>& m_maxLengths;
};

} // namespace

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
    setItemDelegate(new FieldDelegate(m_maxLengths, this));
    setTabKeyNavigation(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("WW")));
    keepSelectionColour(this);
    bind(nullptr);
}

TDBGrid::~TDBGrid() {
    setModel(nullptr);
}

// What the grid owned goes only once the new binding is in place.
void TDBGrid::setDataSource(TDataSource* source) {
    const auto oldSource = std::move(m_ownSource);
    const auto oldTable = std::move(m_ownTable);
    bind(source);
}

void TDBGrid::setDataSet(TDataSet* dataSet) {
    const auto oldSource = std::move(m_ownSource);
    const auto oldTable = std::move(m_ownTable);
    auto source = std::make_unique<TDataSource>();
    source->setDataSet(dataSet);
    bind(source.get());
    m_ownSource = std::move(source);
}

void TDBGrid::setTable(const QString& alias, const QString& tableName) {
    auto table = std::make_unique<TTable>();
    table->DatabaseName = alias;
    table->TableName = tableName;
    setDataSet(table.get());
    m_ownTable = std::move(table);
}

void TDBGrid::bind(TDataSource* source) {
    const bool wasReadOnly = m_source && m_source->readOnly();
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    if (!source) {
        // An unbound grid shows nothing: a source of its own with no data set.
        m_ownSource = std::make_unique<TDataSource>();
        source = m_ownSource.get();
    }
    const std::unique_ptr<TDataSetModel> oldModel = std::move(m_model);
    m_source = source;
    if (wasReadOnly)
        m_source->setReadOnly(true);
    auto model = std::make_unique<TDataSetModel>(source);
    model->setRowToolTips(m_rowToolTips);
    setModel(model.get());
    m_model = std::move(model);
    connect(source, &TDataSource::afterScroll, this, [this] {
        showSourceRow();
        emit currentRowChanged(m_source->currentRow());
    });
    connect(source, &TDataSource::rowsChanged, this, [this](TDataSource::Change change) {
        if (change == TDataSource::Change::Reset)
            fitColumns();
        showSourceRow();
    });
    setEditTriggers(m_source->readOnly() ? QAbstractItemView::NoEditTriggers : editTriggers());
    showSourceRow();
}

void TDBGrid::setReadOnly(bool readOnly) {
    m_source->setReadOnly(readOnly);
    setEditTriggers(
        readOnly ? QAbstractItemView::NoEditTriggers
                 : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                       QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
}

bool TDBGrid::readOnly() const {
    return m_source->readOnly();
}

void TDBGrid::setIndicator(bool shown) {
    verticalHeader()->setVisible(shown);
    setShowGrid(shown);
}

void TDBGrid::setRowToolTips(bool on) {
    m_rowToolTips = on;
    m_model->setRowToolTips(on);
}

void TDBGrid::setMaxLength(const QString& fieldName, int length) {
    m_maxLengths[fieldName.toUpper()] = length;
}

void TDBGrid::setRowSelect(bool rowSelect) {
    setSelectionBehavior(rowSelect ? QAbstractItemView::SelectRows
                                   : QAbstractItemView::SelectItems);
}

int TDBGrid::currentRow() const {
    return m_source->currentRow();
}

void TDBGrid::setCurrentRow(int row) {
    runGuarded([&] { m_source->moveTo(row); });
}

// Columns as wide as their titles and the texts read, within reason.
void TDBGrid::fitColumns() {
    resizeColumnsToContents();
    for (int i = 0; i < m_model->columnCount(); ++i)
        setColumnWidth(i, std::clamp(columnWidth(i), 64, 320));
}

// The view's cursor follows the data source, keeping its column.
void TDBGrid::showSourceRow() {
    const int row = m_source->currentRow();
    if (row < 0 || row >= m_model->rowCount())
        return;
    const int column = std::max(0, currentIndex().column());
    if (column >= m_model->columnCount())
        return;
    m_following = true;
    setCurrentIndex(m_model->index(row, column));
    m_following = false;
}

// A row chosen in the view becomes the data source's current row; when the
// pending edit cannot be posted the view goes back to the row in edit.
void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (m_following || !current.isValid() || current.row() == m_source->currentRow())
        return;
    runGuarded([&] { m_source->moveTo(current.row()); });
    if (m_source->currentRow() != current.row())
        showSourceRow();
}

void TDBGrid::deleteWithQuestion() {
    if (m_source->readOnly() || m_source->rowCount() == 0)
        return;
    if (!confirm(QStringLiteral("Delete record?"), this))
        return;
    runGuarded([&] { m_source->remove(); });
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    const bool writable = !m_source->readOnly() && m_source->active();
    if (writable && event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
        deleteWithQuestion();
        return;
    }
    if (writable && event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
        runGuarded([&] { m_source->insert(); });
        return;
    }
    if (event->key() == Qt::Key_Escape && m_source->state() != TDataSource::State::Browse &&
        m_source->state() != TDataSource::State::Inactive) {
        runGuarded([&] { m_source->cancel(); });
        return;
    }
    if (writable && event->key() == Qt::Key_Down && event->modifiers() == Qt::NoModifier &&
        m_source->currentRow() == m_source->rowCount() - 1) {
        runGuarded([&] { m_source->insert(); });
        return;
    }
    QTableView::keyPressEvent(event);
}

void TDBGrid::leaveEmptyNewRow() {
    if (m_source->state() != TDataSource::State::Insert || m_source->dataSet()->Modified())
        return;
    runGuarded([&] { m_source->cancel(); });
}

void TDBGrid::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    // Another window coming up (a message box) or the grid's own cell editor
    // taking the focus is no leaving.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    QWidget* focus = QApplication::focusWidget();
    if (focus && isAncestorOf(focus))
        return;
    leaveEmptyNewRow();
}
