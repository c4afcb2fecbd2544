#pragma once

#include "store/DataSet.h"
#include "ui/DataSource.h"
#include "windows/SecondaryWindow.h"

class QLabel;
class QHBoxLayout;
class QWidget;
class TDBGrid;
class TDBNavigator;

// The design shared by the registration-point, personnel and cost-centre
// editors: a 33-pixel strip with the navigator and the row counter, and the
// editable grid below it. The table is open while the window is shown; a row
// still in edit when it closes is discarded.
class TTableEditor : public TSecondaryWindow {
    Q_OBJECT
public:
    TTableEditor(QWidget* parent, const QString& objectName, const QString& caption,
                 QSize outerSize, const QString& tableName);

    TTable Table1;
    TDataSource DataSource1;
    QWidget* Panel1;
    TDBNavigator* DBNavigator;
    QLabel* lCount;
    TDBGrid* DBGrid1;

    ~TTableEditor() override;

    void FormShow();
    void FormClose();
    void Table1AfterScroll();

protected:
    // The strip's layout, for controls at its right end.
    QHBoxLayout* stripLayout() const { return m_strip; }
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showCount();

    QHBoxLayout* m_strip;
};
