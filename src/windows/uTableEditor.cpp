#include "windows/uTableEditor.h"

#include "platform/Guarded.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

TTableEditor::TTableEditor(QWidget* parent, const QString& objectName, const QString& caption,
                           QSize outerSize, const QString& tableName)
    : TSecondaryWindow(parent, objectName, caption, outerSize) {
    Table1.TableName = tableName;
    DataSource1.setDataSet(&Table1);

    Panel1 = new QWidget(this);
    Panel1->setFixedHeight(33);
    m_strip = new QHBoxLayout(Panel1);
    m_strip->setContentsMargins(4, 4, 4, 4);
    DBNavigator = new TDBNavigator(Panel1);
    DBNavigator->setObjectName(QStringLiteral("DBNavigator"));
    DBNavigator->setDataSource(&DataSource1);
    lCount = new QLabel(QStringLiteral("---"), Panel1);
    lCount->setObjectName(QStringLiteral("lCount"));
    m_strip->addWidget(DBNavigator);
    m_strip->addSpacing(12);
    m_strip->addWidget(lCount);
    m_strip->addStretch();

    DBGrid1 = new TDBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setDataSource(&DataSource1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addWidget(DBGrid1);

    connect(&DataSource1, &TDataSource::afterScroll, this,
            guarded([this] { Table1AfterScroll(); }));
}

void TTableEditor::showCount() {
    lCount->setText(QStringLiteral("Registros: ") + QString::number(Table1.RecordCount()));
}

// A table that cannot be opened leaves the window open, empty, with the
// counter as it was.
// The grid and navigator outlive the data set and source members: unbind them
// before those go.
TTableEditor::~TTableEditor() {
    DBGrid1->setDataSource(nullptr);
    DBNavigator->setDataSource(nullptr);
}

void TTableEditor::FormShow() {
    DataSource1.open();
    showCount();
    DBGrid1->setFocus();
}

void TTableEditor::FormClose() {
    DataSource1.close();
}

void TTableEditor::Table1AfterScroll() {
    if (Table1.Active())
        showCount();
}

void TTableEditor::showEvent(QShowEvent* event) {
    TSecondaryWindow::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TTableEditor::done(int result) {
    runGuarded([this] { FormClose(); });
    TSecondaryWindow::done(result);
}

// Escape cancels an edit in the grid; it does not close the window.
void TTableEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        return;
    TSecondaryWindow::keyPressEvent(event);
}
