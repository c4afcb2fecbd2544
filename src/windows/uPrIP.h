#pragma once

#include "windows/uTableEditor.h"

#include <QUrl>
#include <functional>

class QPushButton;

// The registration-point editor; "&Configurar reloj..." opens the current
// point's web configuration page.
class TfPrIP : public TTableEditor {
    Q_OBJECT
public:
    explicit TfPrIP(QWidget* parent = nullptr);

    QPushButton* bConfigurar;
    // How an address is opened: the shell by default; tests replace it.
    std::function<void(const QUrl&)> OpenAddress;

    void bConfigurarClick();
};
