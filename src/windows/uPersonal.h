#pragma once

#include "windows/uTableEditor.h"

// The personnel editor.
class TfPersonal : public TTableEditor {
    Q_OBJECT
public:
    explicit TfPersonal(QWidget* parent = nullptr);
};
