// The main window's controls, menu and timers as a person sees them.
#include "station/uPrincipal.h"

#include "collect/Cycles.h"
#include "collect/PointClients.h"
#include "platform/Guarded.h"
#include "ui/Shape.h"
#include "ui/SpinEdit.h"
#include "ui/StatusBar.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QPushButton* disabledButton(const QString& name, QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("---"), parent);
    button->setObjectName(name);
    button->setEnabled(false);
    button->setFixedWidth(28);
    return button;
}

// The controls start from the settings' built-in values.
const StationSettings kBuiltIn;

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}
} // namespace

void TfPrincipal::buildControls() {
    auto* central = new QWidget(this);
    auto* rows = new QVBoxLayout(central);
    lMonitor = named(new QLabel(QStringLiteral("Monitor del servicio de la estación: esta ventana "
                                               "no descarga; sus botones se lo piden al "
                                               "servicio."),
                                central),
                     "lMonitor");
    lMonitor->setStyleSheet(QStringLiteral("QLabel { background: #FFF2B3; color: #4A3B00; "
                                           "padding: 4px; border: 1px solid #C9A800; }"));
    lMonitor->setVisible(false);
    rows->addWidget(lMonitor);
    auto* columns = new QHBoxLayout;
    rows->addLayout(columns);
    auto* left = new QVBoxLayout;
    left->addWidget(buildAutoGroup());
    left->addWidget(buildManualGroup());
    left->addWidget(buildFtpGroup());
    left->addStretch();
    columns->addLayout(left);

    auto* gbEstado =
        named(new QGroupBox(QStringLiteral(" Estado de comunicación "), central), "gbEstado");
    auto* statusLayout = new QVBoxLayout(gbEstado);
    mStatus = named(new QPlainTextEdit(gbEstado), "mStatus");
    mStatus->setReadOnly(true);
    mStatus->setFrameShape(QFrame::NoFrame);
    mStatus->setLineWrapMode(QPlainTextEdit::NoWrap);
    mStatus->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mStatus->setBackgroundRole(QPalette::Button);
    QPalette palette = mStatus->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    mStatus->setPalette(palette);
    mStatus->setMinimumSize(340, 300);
    statusLayout->addWidget(mStatus);
    columns->addWidget(gbEstado, 1);
    setCentralWidget(central);

    StatusBar1 = named(new TStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);
}

QWidget* TfPrincipal::buildAutoGroup() {
    auto* gbAuto = named(new QGroupBox(QStringLiteral(" Descarga automática ")), "gbAuto");
    auto* grid = new QGridLayout(gbAuto);

    cbAuto = named(new QCheckBox(QStringLiteral("Descarga automática diaria"), gbAuto), "cbAuto");
    grid->addWidget(cbAuto, 0, 0, 1, 3);
    grid->addWidget(
        new QLabel(QStringLiteral("Descargar automaticamente cada día a horas:"), gbAuto), 1, 0, 1,
        2);
    dtpHora = named(new QDateTimeEdit(gbAuto), "dtpHora");
    dtpHora->setDisplayFormat(QStringLiteral("HH:mm"));
    dtpHora->setTime(toQTime(kBuiltIn.HoraAuto));
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(dtpHora);
    sAuto = named(new TShape(gbAuto), "sAuto");
    sAuto->setBrushColor(Qt::gray);
    timeRow->addWidget(sAuto);
    grid->addLayout(timeRow, 1, 2);

    cbAutoMin =
        named(new QCheckBox(QStringLiteral("Descarga automática constante"), gbAuto), "cbAutoMin");
    cbAutoMin->setChecked(kBuiltIn.AutoMin);
    grid->addWidget(cbAutoMin, 2, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Descargar automaticamente cada "), gbAuto), 3, 0);
    seAutoMin = named(new TSpinEdit(gbAuto), "seAutoMin");
    seAutoMin->setLimits(kMinDelayAutoMin, kMaxDelayAutoMin, 10);
    seAutoMin->setValue(kBuiltIn.DelayAutoMin);
    grid->addWidget(seAutoMin, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("segundos"), gbAuto), 3, 2);

    grid->addWidget(new QLabel(QStringLiteral("Ruta completa:"), gbAuto), 4, 0);
    auto* pathRow = new QHBoxLayout;
    eFileAuto = named(new QLineEdit(gbAuto), "eFileAuto");
    pathRow->addWidget(eFileAuto);
    bRuta = disabledButton(QStringLiteral("bRuta"), gbAuto);
    pathRow->addWidget(bRuta);
    grid->addLayout(pathRow, 5, 0, 1, 3);
    return gbAuto;
}

QWidget* TfPrincipal::buildManualGroup() {
    auto* gbManual = named(new QGroupBox(QStringLiteral(" Descarga manual ")), "gbManual");
    auto* grid = new QGridLayout(gbManual);
    grid->addWidget(new QLabel(QStringLiteral("Archivo:"), gbManual), 0, 0);
    auto* fileRow = new QHBoxLayout;
    eFileMan = named(new QLineEdit(gbManual), "eFileMan");
    fileRow->addWidget(eFileMan);
    bFile = disabledButton(QStringLiteral("bFile"), gbManual);
    fileRow->addWidget(bFile);
    grid->addLayout(fileRow, 1, 0, 1, 3);
    cbErase = named(new QCheckBox(QStringLiteral("Sobrescribir"), gbManual), "cbErase");
    grid->addWidget(cbErase, 2, 0);
    bDescargar = named(new QPushButton(QStringLiteral("&Descargar"), gbManual), "bDescargar");
    grid->addWidget(bDescargar, 2, 1);
    bSinc = named(new QPushButton(QStringLiteral("Solo &sincronizar"), gbManual), "bSinc");
    grid->addWidget(bSinc, 2, 2);
    return gbManual;
}

QWidget* TfPrincipal::buildFtpGroup() {
    auto* gbFTP = named(new QGroupBox(QStringLiteral(" Parámetros de conexión FTP ")), "gbFTP");
    auto* row = new QHBoxLayout(gbFTP);
    row->addWidget(new QLabel(QStringLiteral("Time Out:"), gbFTP));
    seFTPtimeOut = named(new TSpinEdit(gbFTP), "seFTPtimeOut");
    seFTPtimeOut->setLimits(kMinFtpTimeOut, kMaxFtpTimeOut, 100);
    seFTPtimeOut->setValue(kBuiltIn.FTPtimeOut);
    seFTPtimeOut->setMinimumWidth(90);
    row->addWidget(seFTPtimeOut);
    row->addWidget(new QLabel(QStringLiteral("milisegundos"), gbFTP));
    row->addWidget(new QLabel(QStringLiteral("Puntos a la vez:"), gbFTP));
    sePuntosALaVez = named(new TSpinEdit(gbFTP), "sePuntosALaVez");
    sePuntosALaVez->setLimits(kMinPointsAtOnce, kMaxPointsAtOnce, 1);
    sePuntosALaVez->setValue(kBuiltIn.PuntosALaVez);
    row->addWidget(sePuntosALaVez);
    row->addStretch();
    bCancelPool = named(new QPushButton(QStringLiteral("Cancelar"), gbFTP), "bCancelPool");
    row->addWidget(bCancelPool);
    return gbFTP;
}

void TfPrincipal::buildMenu() {
    QMenu* config = menuBar()->addMenu(QStringLiteral("&Configuración"));
    PuntosRegistroIP1 =
        named(config->addAction(QStringLiteral("Puntos de registro &IP...")), "PuntosRegistroIP1");
    config->addSeparator();
    Personal1 = named(config->addAction(QStringLiteral("&Personal...")), "Personal1");
    CentrosCosto1 =
        named(config->addAction(QStringLiteral("&Centros de costo...")), "CentrosCosto1");
    QMenu* records = menuBar()->addMenu(QStringLiteral("&Registros"));
    RegistrosTaxi1 =
        named(records->addAction(QStringLiteral("Registros de &taxi...")), "RegistrosTaxi1");
    RegistroOperaciones1 = named(records->addAction(QStringLiteral("Registro de &operaciones...")),
                                 "RegistroOperaciones1");
    EstadoPuntos1 =
        named(records->addAction(QStringLiteral("&Estado de los puntos...")), "EstadoPuntos1");
    records->addSeparator();
    AbandonarDescarga1 =
        named(records->addAction(QStringLiteral("&Abandonar descarga sin terminar...")),
              "AbandonarDescarga1");
    Acercade1 = named(menuBar()->addAction(QStringLiteral("&Acerca de...")), "Acercade1");

    connect(PuntosRegistroIP1, &QAction::triggered, this,
            guarded([this] { PuntosRegistroIP1Click(); }));
    connect(Personal1, &QAction::triggered, this, guarded([this] { Personal1Click(); }));
    connect(CentrosCosto1, &QAction::triggered, this, guarded([this] { CentrosCosto1Click(); }));
    connect(RegistrosTaxi1, &QAction::triggered, this, guarded([this] { RegistrosTaxi1Click(); }));
    connect(RegistroOperaciones1, &QAction::triggered, this,
            guarded([this] { RegistroOperaciones1Click(); }));
    connect(EstadoPuntos1, &QAction::triggered, this, guarded([this] { EstadoPuntos1Click(); }));
    connect(AbandonarDescarga1, &QAction::triggered, this,
            guarded([this] { AbandonarDescarga1Click(); }));
    connect(Acercade1, &QAction::triggered, this, guarded([this] { Acercade1Click(); }));
}

void TfPrincipal::buildTimers() {
    tAuto = named(new QTimer(this), "tAuto");
    tAutoMin = named(new QTimer(this), "tAutoMin");
    TimerFTP = named(new QTimer(this), "TimerFTP");
    TimerFTPend = named(new QTimer(this), "TimerFTPend");
    TimerSinc = named(new QTimer(this), "TimerSinc");
    TimerSincEnd = named(new QTimer(this), "TimerSincEnd");
    setCycleIntervals(cycleTimers(), seAutoMin->Value());
}

CycleTimers TfPrincipal::cycleTimers() const {
    return {*tAuto, *tAutoMin, *TimerFTP, *TimerFTPend, *TimerSinc, *TimerSincEnd};
}
