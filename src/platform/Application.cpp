#include "platform/Application.h"

#include "platform/ErrorBox.h"

KivoApplication::KivoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KivoApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showException(error);
    } catch (...) {
        showErrorBox(QStringLiteral("Unknown error"));
    }
    return false;
}
