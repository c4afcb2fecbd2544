#pragma once

#include "collect/PuntoRegistro.h"
#include "collect/SettingsCodec.h"
#include "collect/StationReport.h"
#include "net/FtpClient.h"
#include "net/TcpSock.h"
#include "store/Aliases.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QMainWindow>
#include <QTimer>
#include <memory>

class QAction;
class QCheckBox;
class QDateTimeEdit;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TShape;
class TSpinEdit;
class TStatusBar;
class TRegistry;
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
// channels and the tray icon.
class TfPrincipal : public QMainWindow, private SettingsTarget, public StationReport {
    Q_OBJECT
public:
    // Runs FormCreate.
    explicit TfPrincipal(QWidget* parent = nullptr, StationMode mode = StationMode::Collector);
    ~TfPrincipal() override;

    // Hands over the secondary windows once they exist (before the first showing).
    void setSecondaryWindows(const TSecondaryWindows& windows);

    void guardarParam();
    // The same when the key's recovery values change, which must reach the
    // disk: a key that cannot be opened raises instead of saving nothing.
    void guardarEstadoDescarga();

    // The cycle machine: fCancelar, archivoSalida, fSobrescribir, fAutoHecho.
    const CollectionCycles& cycles() const;

    // Set when start-up has told the program to end (failed server test).
    bool Terminated() const { return m_terminated; }
    bool monitoring() const { return m_monitor; }

    // --- components ---
    QGroupBox* gbAuto;
    QCheckBox* cbAuto;
    QDateTimeEdit* dtpHora;
    TShape* sAuto;
    QCheckBox* cbAutoMin;
    TSpinEdit* seAutoMin;
    QLineEdit* eFileAuto;
    QPushButton* bRuta;
    QGroupBox* gbManual;
    QLineEdit* eFileMan;
    QPushButton* bFile;
    QCheckBox* cbErase;
    QPushButton* bDescargar;
    QPushButton* bSinc;
    QGroupBox* gbFTP;
    TSpinEdit* seFTPtimeOut;
    QPushButton* bCancelPool;
    QGroupBox* gbEstado;
    QPlainTextEdit* mStatus;
    TStatusBar* StatusBar1;
    TTrayIcon* TrayIcon1;

    QAction* PuntosRegistroIP1;
    QAction* Personal1;
    QAction* CentrosCosto1;
    QAction* RegistrosTaxi1;
    QAction* RegistroOperaciones1;
    QAction* Acercade1;
    QAction* EstadoPuntos1 = nullptr;

    QTimer tAuto;
    QTimer tAutoMin;
    QTimer TimerFTP;
    QTimer TimerFTPend;
    QTimer TimerSinc;
    QTimer TimerSincEnd;

    TFtpClient FtpClient1;
    TTcpSock TcpSock1;

    TSession Session1;
    TDatabase Database1;
    TTable tLog;
    TTable tPrIP;
    TTable torRegAsist;

    // --- state shared with the cycles ---
    QString localAlias;
    QString serverAlias;
    // What the settings key holds of a download run, kept as loaded until the
    // point's work adopts it into its own recovery state.
    bool fFTPerr = false;
    QString FTPloc;
    int FTPix = 0;
    RecoveryExtra recovery;

    // uPrincipalPoint.cpp: one registration point's work, in the core
    PointWork& pointWork();
    void Descargar(const QString& IP, const QString& Desc, const QString& Loc, CycleOutput& output);
    void sincronizarPar(const QString& IP, const QString& Desc, const QString& Loc);
    void FtpClient1Status(TTcpSock* Sender, const QString& Status);
    void FtpClient1PacketRecvd(TTcpSock* Sender);
    void FtpClient1Failure(bool& Handled, TCmdType Trans_Type);

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
    void setUpCommunication();

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

    // uPrincipalSettings.cpp: the settings and the trigger switches
    void cbAutoClick();
    void cbAutoMinClick();
    void seAutoMinChange();
    void bFileClick();
    StationSettings currentSettings() const;
    void writeOpenKey(TRegistry& registry);
    void applyAuto(bool on) override;
    void applyAutoMin(bool on) override;
    void applyDelayAutoMin(int seconds) override;
    void applyHoraAuto(TDateTime time) override;
    void applyFileAuto(const QString& path) override;
    void applyFileMan(const QString& path) override;
    void applyEraseMan(bool on) override;
    void applyFTPix(int value) override;
    void applyFTPtimeOut(int milliseconds) override;
    void applyKeyRecovery(const StationSettings& key);
    void clearKeyRecovery();
    // uPrincipalPoint.cpp: says plainly when the journal of finished runs
    // cannot be added to a database
    void comprobarRegistroDescargas();

    // uPrincipalCycles.cpp: the collection and synchronisation cycles
    void setUpCycles(PointWork& work, StationReport& report);
    void tAutoTimer();
    void tAutoMinTimer();
    void bDescargarClick();
    void bSincClick();
    void bCancelPoolClick();
    void TimerFTPTimer();
    void TimerFTPendTimer();
    void TimerSincTimer();
    void TimerSincEndTimer();

    // The six menu handlers.
    void PuntosRegistroIP1Click();
    void Personal1Click();
    void CentrosCosto1Click();
    void RegistrosTaxi1Click();
    void RegistroOperaciones1Click();
    void Acercade1Click();

    PuntoRegistro& punto();

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

    std::unique_ptr<HealthKeeper> m_health;
    TfSaludPuntos* m_fSaludPuntos = nullptr;
    std::unique_ptr<PuntoRegistro> m_punto;
    std::unique_ptr<CycleControls> m_cycleControls;
    std::unique_ptr<CollectionCycles> m_cycles;
    TSecondaryWindows m_windows;
    UnreadValues m_unread; // values the settings key holds that could not be read
    bool m_terminated = false;
    bool m_monitor = false;
    bool m_settingsLoaded = false; // edits from now on are the operator's
    std::unique_ptr<ServiceFollower> m_follower;
    bool m_centred = false;
};
