#pragma once

#include "collect/Cycles.h"
#include "collect/StationControl.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QLabel;
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
class TfSaludPuntos;
class StationCore;
class RemoteStation;
class CollectorLocks;
class PuntoRegistro;
struct HealthAlert;
struct HealthPolicy;
struct PointHealthView;
struct UnfinishedRun;

// Collector: the window runs the station itself. Monitor: the service
// (kivo-ipd) runs it on the same station state, and the window follows its
// cycles and steers it.
enum class StationMode { Collector, Monitor };

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

// The main window: the face of a station. The station (session, tables,
// network components, settings, point's work, cycles, health) is a
// StationCore in this process, or the service the window follows
// (RemoteStation): the same window over either. The controls show the
// station's settings and each edit goes into them; the handlers keep their
// names and call the station; the memo, the status line, the tray and the
// points' state follow the station's events. Tests reach the controls,
// timers and menu entries by their object names.
class TfPrincipal : public QMainWindow {
    Q_OBJECT
public:
    // Runs FormCreate.
    explicit TfPrincipal(QWidget* parent = nullptr, StationMode mode = StationMode::Collector);
    ~TfPrincipal() override;

    // Hands over the secondary windows once they exist (before the first showing).
    void setSecondaryWindows(const TSecondaryWindows& windows);

    void guardarParam();

    // The station in this process (collector mode): its cycles and point's
    // work. Raise in monitor mode.
    const CollectionCycles& cycles() const;
    PuntoRegistro& punto();
    const QString& localAlias() const;
    const QString& serverAlias() const;

    // Set when start-up has told the program to end (failed server test).
    bool Terminated() const { return m_terminated; }
    bool monitoring() const { return m_monitor; }

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
    bool loadLoginFile();
    void leerParam();
    void startTriggers();
    void probarServidor();
    void terminate();
    void TrayIcon1DblClick();
    void setCaptions();

    // uPrincipalStation.cpp: the station behind the window, and its events
    void createStation();
    void connectStation();
    void memoAppend(const QString& text);
    void statusText(const QString& text);
    void FtpClient1PacketRecvd(const TransferProgress& progress);
    void startMonitor();
    void stationGone();
    void collectHere();

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
    void settingsEdited();
    // uPrincipalPoint.cpp: says plainly when the journal of finished runs
    // cannot be added to a database; gives up an unfinished run the
    // operator confirms
    void comprobarRegistroDescargas();
    void AbandonarDescarga1Click();

    // uPrincipalCycles.cpp: the collection and synchronisation cycles
    void setUpCycles();
    void tAutoTimer();
    void tAutoMinTimer();
    void TimerFTPTimer();
    void TimerFTPendTimer();
    void TimerSincTimer();
    void TimerSincEndTimer();
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

    // uPrincipalHealth.cpp: the points' health, alerts and their window
    void setUpHealth();
    void alertBalloon(const HealthAlert& alert);
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
    QLabel* lMonitor; // says plainly that the window follows a service

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

    // The station: one of the two, seen through StationControl.
    std::unique_ptr<StationControl> m_station;
    StationCore* m_core = nullptr;
    RemoteStation* m_remote = nullptr;
    std::unique_ptr<CollectorLocks> m_locks; // when the window took them over

    TfSaludPuntos* m_fSaludPuntos = nullptr;
    TSecondaryWindows m_windows;
    bool m_terminated = false;
    bool m_monitor = false;
    bool m_settingsLoaded = false; // edits from now on are the operator's
    bool m_centred = false;
};
