#pragma once

#include "store/DataSet.h"
#include "windows/SecondaryWindow.h"

// The operations-log viewer.
class TfLog : public TSecondaryWindow {
    Q_OBJECT
public:
    explicit TfLog(QWidget* parent = nullptr);
    TTable Table1;
};
