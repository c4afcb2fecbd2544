#include "windows/uPrIP.h"

#include "platform/Guarded.h"
#include "ui/Shell.h"
#include "windows/PointAddress.h"

#include <QHBoxLayout>
#include <QPushButton>

TfPrIP::TfPrIP(QWidget* parent)
    : TTableEditor(parent, QStringLiteral("fPrIP"), QStringLiteral("Puntos de registro IP"),
                   {506, 493}, QStringLiteral("confRegIP.db")),
      OpenAddress([](const QUrl& url) { ShellOpen(url.toString()); }) {
    bConfigurar = new QPushButton(QStringLiteral("&Configurar reloj..."), Panel1);
    bConfigurar->setObjectName(QStringLiteral("bConfigurar"));
    bConfigurar->setAutoDefault(false);
    stripLayout()->addWidget(bConfigurar);
    connect(bConfigurar, &QPushButton::clicked, this, guarded([this] { bConfigurarClick(); }));
}

// The address is built from a checked host only: an IP text that names no
// host opens nothing, as a page the shell cannot open shows nothing either.
void TfPrIP::bConfigurarClick() {
    if (!Table1.Active())
        return;
    const QUrl page = pointWebPage(Table1.FieldByName(QStringLiteral("IP")).AsString());
    if (page.isValid())
        OpenAddress(page);
}
