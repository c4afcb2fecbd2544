#pragma once

#include "ui/Shape.h"
#include "ui/SpinEdit.h"
#include "ui/StatusBar.h"
#include "ui/TrayIcon.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtGlobal>

// A child of a window by its object name; a missing one ends the test run
// with its name, since every later check would dereference it.
template <typename T> T* namedChild(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("the window has no %s named \"%s\"", T::staticMetaObject.className(), name);
    return found;
}

// The main window's controls, timers and menu entries a test drives, found
// by their object names.
struct PrincipalParts {
    explicit PrincipalParts(const QObject& f)
        : cbAuto(namedChild<QCheckBox>(f, "cbAuto")),
          cbAutoMin(namedChild<QCheckBox>(f, "cbAutoMin")),
          cbErase(namedChild<QCheckBox>(f, "cbErase")),
          dtpHora(namedChild<QDateTimeEdit>(f, "dtpHora")), sAuto(namedChild<TShape>(f, "sAuto")),
          seAutoMin(namedChild<TSpinEdit>(f, "seAutoMin")),
          seFTPtimeOut(namedChild<TSpinEdit>(f, "seFTPtimeOut")),
          sePuntosALaVez(namedChild<TSpinEdit>(f, "sePuntosALaVez")),
          eFileAuto(namedChild<QLineEdit>(f, "eFileAuto")),
          eFileMan(namedChild<QLineEdit>(f, "eFileMan")),
          bRuta(namedChild<QPushButton>(f, "bRuta")), bFile(namedChild<QPushButton>(f, "bFile")),
          bDescargar(namedChild<QPushButton>(f, "bDescargar")),
          bSinc(namedChild<QPushButton>(f, "bSinc")),
          bCancelPool(namedChild<QPushButton>(f, "bCancelPool")),
          mStatus(namedChild<QPlainTextEdit>(f, "mStatus")),
          StatusBar1(namedChild<TStatusBar>(f, "StatusBar1")),
          TrayIcon1(namedChild<TTrayIcon>(f, "TrayIcon1")),
          EstadoPuntos1(namedChild<QAction>(f, "EstadoPuntos1")),
          tAuto(namedChild<QTimer>(f, "tAuto")), tAutoMin(namedChild<QTimer>(f, "tAutoMin")) {}

    QCheckBox *cbAuto, *cbAutoMin, *cbErase;
    QDateTimeEdit* dtpHora;
    TShape* sAuto;
    TSpinEdit *seAutoMin, *seFTPtimeOut, *sePuntosALaVez;
    QLineEdit *eFileAuto, *eFileMan;
    QPushButton *bRuta, *bFile, *bDescargar, *bSinc, *bCancelPool;
    QPlainTextEdit* mStatus;
    TStatusBar* StatusBar1;
    TTrayIcon* TrayIcon1;
    QAction* EstadoPuntos1;
    QTimer *tAuto, *tAutoMin;
};
