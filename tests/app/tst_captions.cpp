// Captions as the window system shows them, with the application set up as the
// program sets it up.
#include "station/StationFixture.h"

#include "app/StationStart.h"
#include "station/uPrincipal.h"
#include "ui/Application.h"

#include <QAbstractButton>
#include <QFile>
#include <QMessageBox>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWindow>

// The platform's own formatting of a window's title, which every window
// system plugin applies before the title reaches the screen (it appends the
// application display name, when one is set).
class QPlatformWindow {
public:
    static QString formatWindowTitle(const QString& title, const QString& separator);
};

namespace {
QString shownTitle(const QWindow* window) {
    return window ? QPlatformWindow::formatWindowTitle(window->title(), QStringLiteral(" — "))
                  : QStringLiteral("<no window>");
}

int closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}
} // namespace

class TestCaptions : public QObject {
    Q_OBJECT
private slots:
    void mainWindowCaption();
    void serverTestBoxCaption();
};

void TestCaptions::mainWindowCaption() {
    StationFixture world;
    std::unique_ptr<TfPrincipal> f(createStationWindows());
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.get()));
    QCOMPARE(f->windowHandle()->title(), QString("KIVO ip Taxis [JUXRegs]"));
    QCOMPARE(shownTitle(f->windowHandle()), QString("KIVO ip Taxis [JUXRegs]"));
}

// The real message box is shown; a person's OK is given once its caption has
// been read. Its button speaks Spanish, whatever the locale.
void TestCaptions::serverTestBoxCaption() {
    StationFixture world;
    setBoxPresenter({});
    QFile aliases(world.path("aliases.ini"));
    QVERIFY(aliases.open(QIODevice::WriteOnly));
    aliases.write(QString("[JUXRegs]\nDriver=postgres\nHost=127.0.0.1\nPort=%1\nDatabase=kivo\n")
                      .arg(closedPort())
                      .toUtf8());
    aliases.close();
    QStringList captions;
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->windowHandle() || !box->isVisible()) {
            QTimer::singleShot(10, qApp, answer);
            return;
        }
        captions << box->windowHandle()->title() << shownTitle(box->windowHandle())
                 << box->button(QMessageBox::Ok)->text().remove(QLatin1Char('&'));
        box->accept();
    };
    QTimer::singleShot(0, qApp, answer);
    std::unique_ptr<TfPrincipal> f(createStationWindows());
    QVERIFY(f->Terminated());
    QCOMPARE(captions, (QStringList{" KIVO_ip", " KIVO_ip", "Aceptar"}));
}

int main(int argc, char** argv) {
    KivoApplication app(argc, argv);
    setApplicationIdentity();
    TestCaptions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_captions.moc"
