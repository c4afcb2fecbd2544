#pragma once

#include <QApplication>

// The application object: an exception that reaches the event loop is shown in
// the standard error box instead of escaping into Qt.
class KivoApplication : public QApplication {
public:
    KivoApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
