#include "windows/UAboutBox.h"

#include <QLabel>
#include <QVBoxLayout>

TFAboutBox::TFAboutBox(QWidget* parent)
    : TSecondaryWindow(parent, QStringLiteral("FAboutBox"), QStringLiteral("Acerca de..."),
                       {481, 441}) {
    setFixedSize(481, 441);
    auto* layout = new QVBoxLayout(this);
    lDBinfo = new QLabel(this);
    lDBinfo->setObjectName(QStringLiteral("lDBinfo"));
    layout->addStretch();
    layout->addWidget(lDBinfo);
}

void TFAboutBox::setDBinfo(const QString& text) {
    m_dbinfo = text;
    QString shown = text;
    lDBinfo->setText(shown.replace(QLatin1Char('\r'), QLatin1Char('\n')));
}
