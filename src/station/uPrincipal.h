#pragma once

#include "collect/PuntoRegistro.h"
#include "collect/StationReport.h"
#include "collect/StationSettingsStore.h"
#include "net/FtpClient.h"
#include "net/TcpSock.h"
#include "store/Aliases.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QTimer;
class QCheckBox;
class QDateTimeEdit;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TShape;
class TSpinEdit;
class TStatusBar;
class TTrayIcon;
class TfLog;
class TfRegAsist;
class TFAboutBox;
class TfPrIP;
class TfCeco;
class TfPersonal;
class TfpConsulta1;
class ServiceFollower;
class HealthKeeper;
class TfSaludPuntos;
struct HealthAlert;
struct HealthPolicy;
struct PointHealthView;

// Collector: the window runs the station itself. Monitor: the service
// (kivo-ipd) runs it in the same working directory, and the window follows
// its cycles and steers it.
enum class StationMode { Collector, Monitor };
class CollectionCycles;
class CycleControls;
class PointWork;
class StationReport;

// The secondary windows, created after the main window in this order.
struct TSecondaryWindows {
    TfLog* fLog = nullptr;
    TfRegAsist* fRegAsist = nullptr;
    TFAboutBox* FAboutBox = nullptr;
    TfPrIP* fPrIP = nullptr;
    TfCeco* fCeco = nullptr;
    TfPersonal* fPersonal = nullptr;
    TfpConsulta1* fpConsulta1 = nullptr;
};

// The main window: owner of the session, the data sets, the timers, the status
// channels and the tray icon. The settings live in a StationSettingsStore; the
// controls show its values and each edit goes into it. Tests reach the
// controls, timers and menu entries by their object names.
class TfPrincipal : public QMainWindow, public StationReport {
    Q_OBJECT
public:
    // Runs FormCreate.
    explicit TfPrincipal(QWidget* parent = nullptr, StationMode mode = StationMode::Collector);
    ~TfPrincipal() override;

    // Hands over the secondary windows once they exist (before the first showing).
    void setSecondaryWindows(const TSecondaryWindows& windows);

    void guardarParam();

    // The cycle machine: fCancelar, archivoSalida, fSobrescribir, fAutoHecho.
    const CollectionCycles& cycles() const;
    // One registration point's work, which the cycles drive.
    PuntoRegistro& punto();
    const QString& localAlias() const { return m_localAlias; }

    // Set when start-up has told the program to end (failed server test).
    bool Terminated() const { return m_terminated; }
    bool monitoring() const { return m_monitor; }

    // StationReport: mStatus, StatusBar1 and tLog
    void memoAppend(const QString& text) override;
    void memoClear() override;
    void statusText(const QString& text) override;
    void logRow(const QString& archivo, std::optional<int> nroRegAsist = std::nullopt) override;
    void showError(const std::exception& error) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // uPrincipalForm.cpp: the window's controls and menu
    void buildControls();
    QWidget* buildAutoGroup();
    QWidget* buildManualGroup();
    QWidget* buildFtpGroup();
    void buildMenu();
    void buildTimers();
    CycleTimers cycleTimers() const;

    // uPrincipal.cpp: creation, showing, closing, tray
    void FormCreate();
    void FormShow();
    void FormClose();
    void bindMainDataSets();
    bool loadLoginFile();
    void leerParam();
    void startTriggers();
    void probarServidor();
    void Session1Password(TSession& sender, bool& Continue);
    void TrayIcon1DblClick();
    void setCaptions();

    // uPrincipalSettings.cpp: the controls bound to the settings, and the
    // switches of the two automatic triggers
    void bindSettingsControls();
    void showSettings();
    void cbAutoClick();
    void cbAutoMinClick();
    void cbEraseClick();
    void dtpHoraChange();
    void eFileAutoChange();
    void eFileManChange();
    void seAutoMinChange();
    void seFTPtimeOutChange();
    void restartConstantTrigger();
    void bFileClick();
    // uPrincipalPoint.cpp: says plainly when the journal of finished runs
    // cannot be added to a database; gives up an unfinished run the
    // operator confirms (here, or in the service this window follows)
    void comprobarRegistroDescargas();
    void AbandonarDescarga1Click();
    std::optional<UnfinishedRun> unfinishedRunOfService();

    // uPrincipalCycles.cpp: the collection and synchronisation cycles
    void setUpCycles();
    void tAutoTimer();
    void tAutoMinTimer();
    void bDescargarClick();
    void bSincClick();
    void bCancelPoolClick();

    // The six menu handlers.
    void PuntosRegistroIP1Click();
    void Personal1Click();
    void CentrosCosto1Click();
    void RegistrosTaxi1Click();
    void RegistroOperaciones1Click();
    void Acercade1Click();

    // uPrincipalMonitor.cpp: the window as the service's face
    void startMonitor();
    void serviceLine(const QByteArray& line);
    void serviceGone();
    void askService(const QByteArray& command);
    void settingsEditedForService();

    // uPrincipalHealth.cpp: the points' health, alerts and their window
    void setUpHealth();
    HealthPolicy readHealthPolicy();
    void alertBalloon(const HealthAlert& alert);
    QList<PointHealthView> pointsHealth();
    void saveHealthPolicy(const HealthPolicy& policy);
    void EstadoPuntos1Click();
    void refreshHealthWindow();

    // --- components ---
    QCheckBox* cbAuto;
    QDateTimeEdit* dtpHora;
    TShape* sAuto;
    QCheckBox* cbAutoMin;
    TSpinEdit* seAutoMin;
    QLineEdit* eFileAuto;
    QPushButton* bRuta;
    QLineEdit* eFileMan;
    QPushButton* bFile;
    QCheckBox* cbErase;
    QPushButton* bDescargar;
    QPushButton* bSinc;
    TSpinEdit* seFTPtimeOut;
    QPushButton* bCancelPool;
    QPlainTextEdit* mStatus;
    TStatusBar* StatusBar1;
    TTrayIcon* TrayIcon1;

    QAction* PuntosRegistroIP1;
    QAction* Personal1;
    QAction* CentrosCosto1;
    QAction* RegistrosTaxi1;
    QAction* RegistroOperaciones1;
    QAction* Acercade1;
    QAction* EstadoPuntos1;
    QAction* AbandonarDescarga1;

    QTimer* tAuto;
    QTimer* tAutoMin;
    QTimer* TimerFTP;
    QTimer* TimerFTPend;
    QTimer* TimerSinc;
    QTimer* TimerSincEnd;

    TFtpClient FtpClient1;
    TTcpSock TcpSock1;

    TSession Session1;
    TDatabase Database1;
    TTable tLog;
    TTable tPrIP;
    TTable torRegAsist;

    QString m_localAlias;
    QString m_serverAlias;
    StationSettingsStore m_settings;

    std::unique_ptr<HealthKeeper> m_health;
    TfSaludPuntos* m_fSaludPuntos = nullptr;
    std::unique_ptr<PuntoRegistro> m_punto;
    std::unique_ptr<CycleControls> m_cycleControls;
    std::unique_ptr<CollectionCycles> m_cycles;
    TSecondaryWindows m_windows;
    bool m_terminated = false;
    bool m_monitor = false;
    bool m_settingsLoaded = false; // edits from now on are the operator's
    std::unique_ptr<ServiceFollower> m_follower;
    bool m_centred = false;
};
