#pragma once

#include "store/DataSet.h"
#include "windows/SecondaryWindow.h"

// The ticket-records window: browse, report and export of the server table.
class TfRegAsist : public TSecondaryWindow {
    Q_OBJECT
public:
    explicit TfRegAsist(QWidget* parent = nullptr);
    TTable Table1;
    TQuery Query1;
};
