#include "station/uPrincipal.h"

#include "collect/Cycles.h"
#include "collect/PointClients.h"
#include "collect/PointHealth.h"
#include "collect/PuntoRegistro.h"
#include "collect/ServiceLink.h"
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
    : QMainWindow(parent), Database1(Session1), m_monitor(mode == StationMode::Monitor) {
    setObjectName(QStringLiteral("fPrincipal"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    buildControls();
    buildMenu();
    buildTimers();
    setUpPointClients(FtpClient1, TcpSock1);
    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setIcon(windowIcon());
    TrayIcon1->OnDblClick = [this] { runGuarded([this] { TrayIcon1DblClick(); }); };
    setWindowTitle(kBaseCaption);
    TrayIcon1->setHint(kBaseCaption);

    bindSettingsControls();
    Session1.OnPassword = [this](TSession& sender, bool& go) { Session1Password(sender, go); };

    runGuarded([this] { FormCreate(); });
    // After the aliases are known: the point's work is bound to them.
    runGuarded([this] { setUpCycles(); });
    runGuarded([this] { setUpHealth(); });
    m_settingsLoaded = true;
    if (m_monitor)
        runGuarded([this] { startMonitor(); });
    setFixedSize(sizeHint());
    TrayIcon1->show();
}

TfPrincipal::~TfPrincipal() = default;

void TfPrincipal::setSecondaryWindows(const TSecondaryWindows& windows) {
    m_windows = windows;
}

void TfPrincipal::FormCreate() {
    const AliasNames aliases = declareStationAliases(Session1);
    m_localAlias = aliases.local;
    m_serverAlias = aliases.server;
    m_settings.setServerAlias(m_serverAlias);
    bindMainDataSets();
    setCaptions();
    if (!loadLoginFile())
        return;
    tAuto->stop();
    leerParam();
}

void TfPrincipal::bindMainDataSets() {
    for (TDataSet* local : std::initializer_list<TDataSet*>{&tLog, &tPrIP})
        local->DatabaseName = m_localAlias;
    tLog.TableName = QStringLiteral("log.DB");
    tPrIP.TableName = QStringLiteral("confRegIP.db");
    Database1.AliasName = m_serverAlias;
    Database1.DatabaseName = m_serverAlias;
    torRegAsist.DatabaseName = m_serverAlias;
    torRegAsist.TableName = QStringLiteral("dbo.tickettaxis");
}

void TfPrincipal::setCaptions() {
    const QString caption =
        kBaseCaption + QStringLiteral(" [") + m_serverAlias + QStringLiteral("]");
    setWindowTitle(caption);
    TrayIcon1->setHint(caption);
}

// When the login lines can be neither loaded nor written out, the rest of the
// start-up does not run.
bool TfPrincipal::loadLoginFile() {
    try {
        loadServerLogin(Database1);
        return true;
    } catch (const std::exception& error) {
        showException(error);
        return false;
    }
}

void TfPrincipal::leerParam() {
    try {
        m_settings.loadClamped();
    } catch (const std::exception& error) {
        showSettings();
        showException(error);
        return; // no timers and no server test for this start
    }
    showSettings();
    startTriggers();
    if (m_serverAlias != kNoServerAlias)
        probarServidor();
    if (!m_terminated)
        comprobarRegistroDescargas();
}

void TfPrincipal::startTriggers() {
    tAutoMin->setInterval(m_settings.values().DelayAutoMin * 1000);
    cbAutoMin->isChecked() ? tAutoMin->start() : tAutoMin->stop();
    cbAuto->isChecked() ? tAuto->start() : tAuto->stop();
}

void TfPrincipal::probarServidor() {
    try {
        torRegAsist.Open();
        torRegAsist.Close();
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
        // The end is queued: the remaining start-up steps still run, and the
        // program ends as soon as its event loop starts, without saving. A
        // quit would close the windows first (and FormClose would save), so the
        // loop is left directly.
        m_terminated = true;
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
}

void TfPrincipal::Session1Password(TSession& sender, bool& Continue) {
    sender.AddPassword(kLocalTablesPassword);
    Continue = true;
}

void TfPrincipal::FormShow() {
    for (TTableEditor* editor : std::initializer_list<TTableEditor*>{
             m_windows.fPrIP, m_windows.fPersonal, m_windows.fCeco})
        if (editor)
            editor->Table1.DatabaseName = m_localAlias;
    if (m_windows.fLog)
        m_windows.fLog->Table1.DatabaseName = m_localAlias;
    if (m_windows.fRegAsist) {
        m_windows.fRegAsist->Table1.DatabaseName = m_serverAlias;
        m_windows.fRegAsist->Table1.TableName = QStringLiteral("tickettaxis");
        m_windows.fRegAsist->Query1.DatabaseName = m_serverAlias;
    }
    if (m_windows.fpConsulta1)
        m_windows.fpConsulta1->Table1.DatabaseName = m_serverAlias;
    if (m_windows.FAboutBox)
        m_windows.FAboutBox->setDBinfo(QStringLiteral("DB info: ") + m_localAlias +
                                       QStringLiteral(", ") + m_serverAlias + QStringLiteral(".") +
                                       QChar(u'\r') + QStringLiteral("Par Cap: ") +
                                       QString::number(kMaxPersonal));
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
