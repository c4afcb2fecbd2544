#pragma once

#include "windows/uTableEditor.h"

// The registration-point editor.
class TfPrIP : public TTableEditor {
    Q_OBJECT
public:
    explicit TfPrIP(QWidget* parent = nullptr);
};
