#include "windows/uLog.h"

#include "platform/Guarded.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"

#include <QHBoxLayout>
#include <QShowEvent>
#include <QVBoxLayout>

TfLog::TfLog(QWidget* parent)
    : TSecondaryWindow(parent, QStringLiteral("fLog"), QStringLiteral("Registro de operaciones"),
                       {685, 445}) {
    Table1.TableName = QStringLiteral("log.DB");
    DataSource1.setDataSet(&Table1);
    DataSource1.setReadOnly(true);

    auto* strip = new QWidget(this);
    strip->setFixedHeight(41);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(4, 8, 4, 8);
    DBNavigator1 = TDBNavigator::browser(strip, &DataSource1);
    stripLayout->addWidget(DBNavigator1);
    stripLayout->addStretch();

    DBGrid1 = new TDBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setDataSource(&DataSource1);
    DBGrid1->setReadOnly(true);
    DBGrid1->setIndicator(false);
    DBGrid1->setRowSelect(true);
    DBGrid1->setRowToolTips(true); // the event texts are longer than their column

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(strip);
    layout->addWidget(DBGrid1);
}

// The grid and navigator outlive the data set and source members: unbind them
// before those go.
TfLog::~TfLog() {
    DBGrid1->setDataSource(nullptr);
    DBNavigator1->setDataSource(nullptr);
}

// Entries are appended in the order of the events: the last row is the newest.
void TfLog::FormShow() {
    DataSource1.open();
    DataSource1.last();
    DBGrid1->setFocus();
}

void TfLog::FormClose() {
    DataSource1.close();
}
