#include "platform/Application.h"

KivoApplication::KivoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KivoApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
