#include "windows/UAboutBox.h"

#include "platform/Guarded.h"
#include "ui/Shell.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

namespace {

// The artwork behind the contact lines: a quiet network of points on a pale
// ground, drawn here so that the box needs no image file.
QPixmap artwork(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient ground(0, 0, size.width(), size.height());
    ground.setColorAt(0, QColor(235, 241, 250));
    ground.setColorAt(1, QColor(205, 218, 238));
    painter.setBrush(ground);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRect(QPoint(0, 0), size).adjusted(0, 0, -1, -1), 12, 12);
    const QPoint points[] = {{40, 180}, {95, 120}, {150, 170}, {120, 60}, {60, 70}, {180, 100}};
    painter.setPen(QPen(QColor(120, 145, 190), 2));
    for (const QPoint& from : points)
        painter.drawLine(points[1], from);
    painter.drawLine(points[3], points[5]);
    painter.setBrush(QColor(250, 200, 40)); // taxi yellow
    for (const QPoint& at : points)
        painter.drawEllipse(at, 9, 9);
    return pixmap;
}

} // namespace

const QString TFAboutBox::kMail = QStringLiteral("soporte@example.com");
const QString TFAboutBox::kWeb = QStringLiteral("www.example.com");

TFAboutBox::TFAboutBox(QWidget* parent)
    : TSecondaryWindow(parent, QStringLiteral("FAboutBox"), QStringLiteral("Acerca de..."),
                       {481, 441}),
      OpenAddress([](const QUrl& url) { ShellOpen(url.toString()); }) {
    setFixedSize(481, 441);
    QLabel* heading =
        addLabel(QStringLiteral("Software básico de operación"), {16, 12, 449, 20}, true);
    QLabel* product = addLabel(QStringLiteral("KIVO ip"), {16, 32, 449, 26}, true);
    QFont big = product->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    product->setFont(big);
    heading->setObjectName(QStringLiteral("lHeading"));
    addSeparator(64);
    addLabel(QStringLiteral("Versión 1.10.0 (taxis)"), {16, 72, 200, 18});
    QLabel* notice =
        addLabel(QStringLiteral("Uso sujeto a licencia del fabricante."), {216, 72, 249, 18});
    notice->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    notice->setEnabled(false); // greyed
    addPicture();
    addContacts();
    addSeparator(384);
    lDBinfo = addLabel(QString(), {16, 392, 330, 40});
    lDBinfo->setObjectName(QStringLiteral("lDBinfo"));
    sbCerrar = new QToolButton(this);
    sbCerrar->setObjectName(QStringLiteral("sbCerrar"));
    sbCerrar->setText(QStringLiteral("Cerrar"));
    sbCerrar->setAutoRaise(true);
    sbCerrar->setGeometry(385, 400, 80, 26);
    connect(sbCerrar, &QToolButton::clicked, this, guarded([this] { sbCerrarClick(); }));
}

QLabel* TFAboutBox::addLabel(const QString& text, QRect where, bool bold) {
    auto* label = new QLabel(text, this);
    label->setGeometry(where);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

void TFAboutBox::addSeparator(int y) {
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(8, y, 465, 4);
}

void TFAboutBox::addPicture() {
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setGeometry(40, 100, 400, 228);
    picture->setScaledContents(true); // stretched
    picture->setAttribute(Qt::WA_TranslucentBackground);
    picture->setPixmap(artwork({400, 228}));
}

// Right-aligned and bold over the picture; the texts are neutral examples.
void TFAboutBox::addContacts() {
    const QStringList lines{QStringLiteral("Instalación para: Empresa Cliente S.A."),
                            QStringLiteral("Equipo de desarrollo KIVO"),
                            kMail,
                            QStringLiteral("Av. Ejemplo 1234, piso 5"),
                            QStringLiteral("Tel. +00 000 000-0000"),
                            QStringLiteral("Ciudad Ejemplo, País"),
                            kWeb};
    int y = 110;
    for (const QString& text : lines) {
        QLabel* label = addLabel(text, {48, y, 384, 18}, true);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        y += text == lines.first() ? 34 : 22;
        if (text == kMail || text == kWeb) {
            label->setObjectName(text == kMail ? QStringLiteral("Label7")
                                               : QStringLiteral("Label8"));
            (text == kMail ? Label7 : Label8) = label;
            label->setStyleSheet(QStringLiteral("color: navy;"));
            label->setCursor(Qt::PointingHandCursor);
            label->installEventFilter(this);
        }
    }
}

bool TFAboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label7)
            runGuarded([this] { Label7Click(); });
        else if (watched == Label8)
            runGuarded([this] { Label8Click(); });
    }
    return TSecondaryWindow::eventFilter(watched, event);
}

void TFAboutBox::setDBinfo(const QString& text) {
    m_dbinfo = text;
    QString shown = text;
    lDBinfo->setText(shown.replace(QLatin1Char('\r'), QLatin1Char('\n')));
}

void TFAboutBox::sbCerrarClick() {
    done(QDialog::Accepted);
}

void TFAboutBox::Label7Click() {
    OpenAddress(QUrl(QStringLiteral("mailto:") + kMail));
}

void TFAboutBox::Label8Click() {
    OpenAddress(QUrl(QStringLiteral("http://") + kWeb));
}
