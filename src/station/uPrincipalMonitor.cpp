// The window as the face of a running service (kivo-ipd) in the same working
// directory: its memo and status line follow the service, the buttons ask
// it, and the settings it saves are applied by the service at once.
#include "station/uPrincipal.h"

#include "collect/ServiceLink.h"
#include "platform/Guarded.h"
#include "store/Aliases.h"
#include "ui/SpinEdit.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QLineEdit>

void TfPrincipal::startMonitor() {
    m_follower = std::make_unique<ServiceFollower>(
        [this](const QByteArray& line) { runGuarded([&] { serviceLine(line); }); },
        [this] { runGuarded([this] { serviceGone(); }); });
    statusText(m_follower->connected()
                   ? QStringLiteral("Conectado con el servicio de la estación en ") +
                         AliasConfig::dataDirectory()
                   : QStringLiteral("ERROR: el servicio de la estación no responde."));
    for (QCheckBox* box : {cbAuto, cbAutoMin, cbErase})
        connect(box, &QCheckBox::toggled, this, guarded([this] { settingsEditedForService(); }));
    connect(dtpHora, &QDateTimeEdit::timeChanged, this,
            guarded([this] { settingsEditedForService(); }));
    for (QLineEdit* edit : {eFileAuto, eFileMan})
        connect(edit, &QLineEdit::editingFinished, this,
                guarded([this] { settingsEditedForService(); }));
}

// "memo <line>", "estado <text>", "limpiar", as the service reports them.
void TfPrincipal::serviceLine(const QByteArray& line) {
    const QString text = QString::fromUtf8(line);
    if (text.startsWith(QLatin1String("memo ")))
        memoAppend(text.mid(5) + QStringLiteral("\r\n"));
    else if (text.startsWith(QLatin1String("estado ")))
        statusText(text.mid(7));
    else if (text == QLatin1String("limpiar"))
        memoClear();
    else if (text == QLatin1String("salud"))
        refreshHealthWindow();
}

void TfPrincipal::serviceGone() {
    statusText(QStringLiteral("ERROR: el servicio de la estación se detuvo; esta ventana ya no "
                              "lo sigue."));
}

void TfPrincipal::askService(const QByteArray& command) {
    QByteArray reply;
    if (!ServiceLink::ask(command, reply))
        statusText(QStringLiteral("ERROR: no hay ningún servicio de la estación en marcha."));
    else if (reply.startsWith("error"))
        statusText(QStringLiteral("ERROR: ") + QString::fromUtf8(reply.mid(7)));
}

// The operator changed a setting: saved, and the service reads it anew.
void TfPrincipal::settingsEditedForService() {
    if (!m_monitor || !m_settingsLoaded)
        return;
    guardarParam();
    askService("releer");
}
