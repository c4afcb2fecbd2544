// The main window's controls bound to the station's settings, and the switches
// of the two automatic triggers.
#include "station/uPrincipal.h"

#include "collect/StationControl.h"
#include "platform/Guarded.h"
#include "ui/Shape.h"
#include "ui/SpinEdit.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void TfPrincipal::guardarParam() {
    m_station->settings().save();
}

// An edit of the operator's while the window follows a service is saved at
// once, and the service reads it (a window of its own saves when it closes).
void TfPrincipal::settingsEdited() {
    if (m_monitor && m_settingsLoaded)
        m_station->settingsSaved();
}

// Each control hands its value to the settings as it changes, typed or set by
// code, so that the settings always hold what the window shows.
void TfPrincipal::bindSettingsControls() {
    connect(cbAuto, &QCheckBox::toggled, this, guarded([this] { cbAutoClick(); }));
    connect(cbAutoMin, &QCheckBox::toggled, this, guarded([this] { cbAutoMinClick(); }));
    connect(cbErase, &QCheckBox::toggled, this, guarded([this] { cbEraseClick(); }));
    connect(dtpHora, &QDateTimeEdit::dateTimeChanged, this, guarded([this] { dtpHoraChange(); }));
    connect(eFileAuto, &QLineEdit::textChanged, this, guarded([this] { eFileAutoChange(); }));
    connect(eFileMan, &QLineEdit::textChanged, this, guarded([this] { eFileManChange(); }));
    for (QLineEdit* edit : {eFileAuto, eFileMan})
        connect(edit, &QLineEdit::editingFinished, this, guarded([this] { settingsEdited(); }));
    seAutoMin->OnChange = [this] { runGuarded([this] { seAutoMinChange(); }); };
    seFTPtimeOut->OnChange = [this] { runGuarded([this] { seFTPtimeOutChange(); }); };
    sePuntosALaVez->OnChange = [this] { runGuarded([this] { sePuntosALaVezChange(); }); };
    connect(bFile, &QPushButton::clicked, this, guarded([this] { bFileClick(); }));
    // The picker's whole value is what a save writes, also when the settings
    // are never read (a start-up cut short by the login file).
    dtpHoraChange();
}

// The controls show the values held, in the order they are read: a trigger
// switched on switches the other off, as a click would. What a save writes of
// the time is the picker's whole value, whose date part has no meaning.
void TfPrincipal::showSettings() {
    const StationSettings shown =
        m_station->settings().values(); // the switches change the held ones
    cbAuto->setChecked(shown.Auto);
    cbAutoMin->setChecked(shown.AutoMin);
    seAutoMin->setValue(shown.DelayAutoMin);
    dtpHora->setTime(toQTime(timeOf(shown.HoraAuto)));
    eFileAuto->setText(shown.FileAuto);
    eFileMan->setText(shown.FileMan);
    cbErase->setChecked(shown.EraseMan);
    seFTPtimeOut->setValue(shown.FTPtimeOut);
    sePuntosALaVez->setValue(shown.PuntosALaVez);
    dtpHoraChange();
    m_station->settings().keepAsLoaded();
}

void TfPrincipal::cbAutoClick() {
    m_station->settings().setAuto(cbAuto->isChecked());
    settingsEdited();
    if (cbAuto->isChecked()) {
        sAuto->setBrushColor(QColor(0x00, 0xFF, 0x00)); // lime
        tAuto->start();
        cbAutoMin->setChecked(false);
    } else {
        sAuto->setBrushColor(Qt::gray);
        tAuto->stop();
    }
}

void TfPrincipal::cbAutoMinClick() {
    m_station->settings().setAutoMin(cbAutoMin->isChecked());
    settingsEdited();
    if (cbAutoMin->isChecked()) {
        tAutoMin->start();
        cbAuto->setChecked(false);
    } else {
        tAutoMin->stop();
    }
}

void TfPrincipal::cbEraseClick() {
    m_station->settings().setEraseMan(cbErase->isChecked());
    settingsEdited();
}

void TfPrincipal::dtpHoraChange() {
    m_station->settings().setHoraAuto(toDateTime(dtpHora->dateTime()));
    settingsEdited();
}

void TfPrincipal::eFileAutoChange() {
    m_station->settings().setFileAuto(eFileAuto->text());
}

void TfPrincipal::eFileManChange() {
    m_station->settings().setFileMan(eFileMan->text());
}

void TfPrincipal::seAutoMinChange() {
    m_station->settings().setDelayAutoMin(seAutoMin->Value());
    settingsEdited();
    restartConstantTrigger();
}

void TfPrincipal::seFTPtimeOutChange() {
    m_station->settings().setFtpTimeOut(seFTPtimeOut->Value());
    settingsEdited();
    restartConstantTrigger();
}

// Counts from the next cycle: a running one keeps the points it has in hand.
void TfPrincipal::sePuntosALaVezChange() {
    m_station->settings().setPointsAtOnce(sePuntosALaVez->Value());
    settingsEdited();
}

// Any change of either spin edit restarts the wait for the next constant cycle.
void TfPrincipal::restartConstantTrigger() {
    tAutoMin->stop();
    tAutoMin->setInterval(m_station->settings().values().DelayAutoMin * 1000);
    if (cbAutoMin->isChecked())
        tAutoMin->start();
}

void TfPrincipal::bFileClick() {
    QFileDialog dialog(this, QStringLiteral("Asignar archivo para descarga manual"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(
        {QStringLiteral("Archivos tipo texto (*.txt)"), QStringLiteral("Todos (*.*)")});
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        eFileMan->setText(dialog.selectedFiles().constFirst());
}
