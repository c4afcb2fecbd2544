// Shows each secondary window with sample rows, one after the other, and saves
// a picture of the screen for each into the directory given as argument. Run
// under Xvfb: xvfb-run -a -s "-screen 0 1280x800x24" build/tests/windows/windowshots shots
#include "ui/DBGrid.h"
#include "ui/GridFixture.h"
#include "windows/UAboutBox.h"
#include "windows/uCeco.h"
#include "windows/uLog.h"
#include "windows/uPersonal.h"
#include "windows/uPrIP.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QTimer>

namespace {

void fillSamples(GridWorld& world) {
    world.addPoints({{"192.0.2.50", "Portón principal", "P01", true},
                     {"192.0.2.51", "Depósito Ñandú", "P02", false}});
    world.addPerson(4711, "José María", true);
    world.addPerson(815, "Begoña", false);
    TTable ceco = world.localTable("ceco.DBF");
    ceco.Append();
    ceco.FieldByName("CECO").setAsInteger(120);
    ceco.FieldByName("OVERTIME").setAsInteger(2);
    ceco.FieldByName("VIAJES").setAsInteger(30);
    ceco.Post();
    for (const char* text :
         {"Conectando con 192.0.2.50 (Portón principal)", "P01: Sinc. OK", "FTP: FALLO!"})
        world.addLog(text);
}

// The whole screen as the X server shows it; the window's own picture when
// `import` cannot run.
void shoot(QWidget& window, const QString& file) {
    window.show();
    window.raise();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 700)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (QProcess::execute("import", {"-window", "root", file}) != 0)
        window.grab().save(file);
    window.hide();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = QDir(argc > 1 ? argv[1] : ".").absolutePath();
    QDir().mkpath(out);
    GridWorld world;
    fillSamples(world);

    TfPrIP points;
    TfPersonal personnel;
    TfCeco centres;
    TfLog log;
    for (TTableEditor* editor :
         {static_cast<TTableEditor*>(&points), static_cast<TTableEditor*>(&personnel),
          static_cast<TTableEditor*>(&centres)})
        editor->Table1.DatabaseName = "KIVO_1";
    log.Table1.DatabaseName = "KIVO_1";
    TFAboutBox about;
    about.setDBinfo("DB info: KIVO_1, JUXRegs.\rPar Cap: 750");

    shoot(points, out + "/fPrIP.png");
    shoot(personnel, out + "/fPersonal.png");
    shoot(centres, out + "/fCeco.png");
    shoot(log, out + "/fLog.png");
    shoot(about, out + "/FAboutBox.png");
    return 0;
}
