#pragma once

#include "platform/Guarded.h"

#include <QApplication>

// The application object: the last net for exceptions that reach the event
// loop. It makes the real message box the default presenter of the boxes.
class KivoApplication : public QApplication {
public:
    KivoApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows a box as a modal QMessageBox with one OK button.
void presentMessageBox(const QString& caption, const QString& text, BoxIcon icon);
