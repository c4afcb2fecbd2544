#pragma once

#include "store/DataSet.h"
#include "ui/DataSource.h"
#include "windows/SecondaryWindow.h"

class TDBGrid;
class TDBNavigator;

// The operations-log viewer: read-only, the newest entry selected when shown.
// It reads the log once when shown and does not follow later entries.
class TfLog : public TSecondaryWindow {
    Q_OBJECT
public:
    explicit TfLog(QWidget* parent = nullptr);

    TTable Table1;
    TDataSource DataSource1;
    TDBNavigator* DBNavigator1;
    TDBGrid* DBGrid1;

    ~TfLog() override;

    void FormShow();
    void FormClose();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
};
