#pragma once

#include "store/DataSet.h"
#include "windows/SecondaryWindow.h"

// The design shared by the registration-point, personnel and cost-centre editors.
class TTableEditor : public TSecondaryWindow {
    Q_OBJECT
public:
    TTableEditor(QWidget* parent, const QString& objectName, const QString& caption,
                 QSize outerSize, const QString& tableName);
    TTable Table1;
};
