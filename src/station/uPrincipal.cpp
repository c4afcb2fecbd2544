#include "station/uPrincipal.h"

#include "collect/PuntoRegistro.h"
#include "collect/RemoteStation.h"
#include "collect/StationCore.h"
#include "platform/CollectorLocks.h"
#include "platform/ErrorBox.h"
#include "platform/Guarded.h"
#include "platform/Registry.h"
#include "ui/Centre.h"
#include "ui/SpinEdit.h"
#include "ui/StatusBar.h"
#include "ui/TrayIcon.h"
#include "windows/UAboutBox.h"
#include "windows/uCeco.h"
#include "windows/uLog.h"
#include "windows/uPersonal.h"
#include "windows/uPrIP.h"
#include "windows/uRegAsist.h"
#include "windows/upConsulta1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

namespace {
const QString kBaseCaption = QStringLiteral("KIVO ip Taxis");
const QString kNoDatabase = QStringLiteral("(i)") + kNoAccess;
} // namespace

TfPrincipal::TfPrincipal(QWidget* parent, StationMode mode)
    : QMainWindow(parent), m_monitor(mode == StationMode::Monitor) {
    setObjectName(QStringLiteral("fPrincipal"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    buildControls();
    buildMenu();
    buildTimers();
    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setIcon(windowIcon());
    TrayIcon1->OnDblClick = [this] { runGuarded([this] { TrayIcon1DblClick(); }); };
    setWindowTitle(kBaseCaption);
    TrayIcon1->setHint(kBaseCaption);

    createStation();
    bindSettingsControls();
    runGuarded([this] { FormCreate(); });
    runGuarded([this] { setUpCycles(); });
    runGuarded([this] { setUpHealth(); });
    m_settingsLoaded = true;
    setFixedSize(sizeHint());
    TrayIcon1->show();
}

TfPrincipal::~TfPrincipal() = default;

void TfPrincipal::setSecondaryWindows(const TSecondaryWindows& windows) {
    m_windows = windows;
}

void TfPrincipal::FormCreate() {
    m_core ? m_core->declareAliases() : m_remote->declareAliases();
    setCaptions();
    if (!loadLoginFile())
        return;
    tAuto->stop();
    leerParam();
}

// The station's caption names its server alias; a window that follows a
// service says so in its caption too, and in a mark that stays.
void TfPrincipal::setCaptions() {
    QString caption = kBaseCaption + QStringLiteral(" [") + serverAlias() + QStringLiteral("]");
    if (m_monitor)
        caption += QStringLiteral(" - monitor del servicio");
    setWindowTitle(caption);
    TrayIcon1->setHint(caption);
    lMonitor->setVisible(m_monitor);
}

// When the login lines can be neither loaded nor written out, the rest of the
// start-up does not run.
bool TfPrincipal::loadLoginFile() {
    try {
        m_core ? m_core->loadServerLogin() : m_remote->loadServerLogin();
        return true;
    } catch (const std::exception& error) {
        showException(error);
        return false;
    }
}

void TfPrincipal::leerParam() {
    // A settings file with a typo is the administrator's to put right: the
    // window says where, and ends without touching it.
    if (const QString problem = TRegistry::fileProblem(); !problem.isEmpty()) {
        showSettings();
        showErrorBox(problem);
        terminate();
        return;
    }
    try {
        m_core ? m_core->loadSettings(true) : m_remote->loadSettings();
    } catch (const std::exception& error) {
        showSettings();
        showException(error);
        return; // no timers and no server test for this start
    }
    showSettings();
    if (m_monitor) {
        startMonitor();
        return; // the service runs the triggers and has tested its server
    }
    startTriggers();
    probarServidor();
    if (!m_terminated)
        comprobarRegistroDescargas();
}

void TfPrincipal::startTriggers() {
    tAutoMin->setInterval(m_station->settings().values().DelayAutoMin * 1000);
    cbAutoMin->isChecked() ? tAutoMin->start() : tAutoMin->stop();
    cbAuto->isChecked() ? tAuto->start() : tAuto->stop();
}

void TfPrincipal::probarServidor() {
    try {
        m_core->testServer();
    } catch (const std::exception& error) {
        // The box's text is fixed; the reason (a server down, an ODBC driver
        // not installed) goes to the error output for whoever sets it up.
        qWarning("%s", error.what());
        StatusBar1->setSimpleText(kNoDatabase);
        QApplication::beep();
        showMessageBox(QStringLiteral(" KIVO_ip"),
                       kNoDatabase + QStringLiteral("\r\r") +
                           QStringLiteral("El programa se cerrará."),
                       BoxIcon::Error);
        terminate();
    }
}

// The end is queued: the remaining start-up steps still run, and the program
// ends as soon as its event loop starts, without saving. A quit would close
// the windows first (and FormClose would save), so the loop is left directly.
void TfPrincipal::terminate() {
    m_terminated = true;
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void TfPrincipal::FormShow() {
    const QString local = localAlias(), server = serverAlias();
    for (TTableEditor* editor : std::initializer_list<TTableEditor*>{
             m_windows.fPrIP, m_windows.fPersonal, m_windows.fCeco})
        if (editor)
            editor->Table1.DatabaseName = local;
    if (m_windows.fLog)
        m_windows.fLog->Table1.DatabaseName = local;
    if (m_windows.fRegAsist) {
        m_windows.fRegAsist->Table1.DatabaseName = server;
        m_windows.fRegAsist->Table1.TableName = QStringLiteral("tickettaxis");
        m_windows.fRegAsist->Query1.DatabaseName = server;
    }
    if (m_windows.fpConsulta1)
        m_windows.fpConsulta1->Table1.DatabaseName = server;
    if (m_windows.FAboutBox)
        m_windows.FAboutBox->setDBinfo(QStringLiteral("DB info: ") + local + QStringLiteral(", ") +
                                       server + QStringLiteral(".") + QChar(u'\r') +
                                       QStringLiteral("Par Cap: ") + QString::number(kMaxPersonal));
}

void TfPrincipal::FormClose() {
    guardarParam();
}

void TfPrincipal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    if (!m_centred) {
        m_centred = true;
        centreOnScreen(this);
    }
    runGuarded([this] { FormShow(); });
}

void TfPrincipal::closeEvent(QCloseEvent* event) {
    // After a failed server test the program ends without saving the settings.
    if (!m_terminated)
        runGuarded([this] { FormClose(); });
    event->accept();
    qApp->quit();
}

// Minimising hides the window and its taskbar button, leaving the tray icon.
// Without a notification area the window stays minimised instead, so that it
// can always be brought back.
void TfPrincipal::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TTrayIcon::available())
        QTimer::singleShot(0, this, [this] { hide(); });
}

void TfPrincipal::TrayIcon1DblClick() {
    showNormal();
    activateWindow();
}

void TfPrincipal::PuntosRegistroIP1Click() {
    m_windows.fPrIP->ShowModal();
}
void TfPrincipal::Personal1Click() {
    m_windows.fPersonal->ShowModal();
}
void TfPrincipal::CentrosCosto1Click() {
    m_windows.fCeco->ShowModal();
}
void TfPrincipal::RegistrosTaxi1Click() {
    m_windows.fRegAsist->ShowModal();
}
void TfPrincipal::RegistroOperaciones1Click() {
    m_windows.fLog->ShowModal();
}
void TfPrincipal::Acercade1Click() {
    m_windows.FAboutBox->ShowModal();
}
