#pragma once

#include "windows/uTableEditor.h"

// The cost-centre editor.
class TfCeco : public TTableEditor {
    Q_OBJECT
public:
    explicit TfCeco(QWidget* parent = nullptr);
};
