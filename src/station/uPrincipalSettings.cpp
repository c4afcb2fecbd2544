// The settings of the main window and the switches of the two automatic triggers.
#include "station/uPrincipal.h"

#include "platform/Registry.h"
#include "ui/Shape.h"
#include "ui/SpinEdit.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QLineEdit>

void TfPrincipal::guardarParam() {
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), true))
        return;
    writeOpenKey(registry);
}

void TfPrincipal::guardarEstadoDescarga() {
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), true))
        throw ERegistryException(QStringLiteral("Cannot open the settings key '%1' in \"%2\"")
                                     .arg(settingsKey(serverAlias), TRegistry::defaultPath()));
    writeOpenKey(registry);
}

void TfPrincipal::writeOpenKey(TRegistry& registry) {
    try {
        writeSettings(registry, currentSettings(), &m_unread);
    } catch (...) {
        registry.CloseKey();
        throw;
    }
    registry.CloseKey();
}

StationSettings TfPrincipal::currentSettings() const {
    StationSettings s;
    s.Auto = cbAuto->isChecked();
    s.AutoMin = cbAutoMin->isChecked();
    s.DelayAutoMin = seAutoMin->Value();
    s.HoraAuto = toDateTime(dtpHora->dateTime());
    s.FileAuto = eFileAuto->text();
    s.FileMan = eFileMan->text();
    s.EraseMan = cbErase->isChecked();
    s.fFTPerr = fFTPerr;
    s.FTPloc = FTPloc;
    s.FTPix = FTPix;
    s.FTPtimeOut = seFTPtimeOut->Value();
    s.recovery = recovery;
    return s;
}

// Checking a box runs its click handler only when the state changes, as a
// user's click would.
void TfPrincipal::applyAuto(bool on) {
    cbAuto->setChecked(on);
}
void TfPrincipal::applyAutoMin(bool on) {
    cbAutoMin->setChecked(on);
}
void TfPrincipal::applyDelayAutoMin(int seconds) {
    seAutoMin->setValue(seconds);
}
void TfPrincipal::applyHoraAuto(TDateTime time) {
    dtpHora->setTime(toQTime(timeOf(time)));
}
void TfPrincipal::applyFileAuto(const QString& path) {
    eFileAuto->setText(path);
}
void TfPrincipal::applyFileMan(const QString& path) {
    eFileMan->setText(path);
}
void TfPrincipal::applyEraseMan(bool on) {
    cbErase->setChecked(on);
}
void TfPrincipal::applyFTPix(int value) {
    FTPix = value;
}
void TfPrincipal::applyFTPtimeOut(int milliseconds) {
    seFTPtimeOut->setValue(milliseconds);
}
void TfPrincipal::applyKeyRecovery(const StationSettings& key) {
    fFTPerr = key.fFTPerr;
    FTPloc = key.FTPloc;
    recovery = key.recovery;
}

// The point's work has taken the key's run for its own: the key forgets it.
void TfPrincipal::clearKeyRecovery() {
    fFTPerr = false;
    recovery = RecoveryExtra();
    guardarEstadoDescarga();
}

void TfPrincipal::cbAutoClick() {
    if (cbAuto->isChecked()) {
        sAuto->setBrushColor(QColor(0x00, 0xFF, 0x00)); // lime
        tAuto.start();
        cbAutoMin->setChecked(false);
    } else {
        sAuto->setBrushColor(Qt::gray);
        tAuto.stop();
    }
}

void TfPrincipal::cbAutoMinClick() {
    if (cbAutoMin->isChecked()) {
        tAutoMin.start();
        cbAuto->setChecked(false);
    } else {
        tAutoMin.stop();
    }
}

// Any change of either spin edit restarts the wait for the next constant cycle.
void TfPrincipal::seAutoMinChange() {
    settingsEditedForService();
    tAutoMin.stop();
    tAutoMin.setInterval(seAutoMin->Value() * 1000);
    if (cbAutoMin->isChecked())
        tAutoMin.start();
}

void TfPrincipal::bFileClick() {
    QFileDialog dialog(this, QStringLiteral("Asignar archivo para descarga manual"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(
        {QStringLiteral("Archivos tipo texto (*.txt)"), QStringLiteral("Todos (*.*)")});
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        eFileMan->setText(dialog.selectedFiles().constFirst());
}
