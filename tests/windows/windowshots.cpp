// Shows each secondary window with sample rows, one after the other, and saves
// a picture of the screen for each into the directory given as argument. Run
// under Xvfb: xvfb-run -a -s "-screen 0 1280x800x24" build/tests/windows/windowshots shots
#include "platform/Clock.h"
#include "report/preview/ReportPreview.h"
#include "ui/DBGrid.h"
#include "ui/GridFixture.h"
#include "windows/UAboutBox.h"
#include "windows/uCeco.h"
#include "windows/uLog.h"
#include "windows/uPersonal.h"
#include "windows/uPrIP.h"
#include "windows/uRegAsist.h"

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

// A few tickets of this month in the server table, two cost centres, one
// ticket of an unknown person.
void addTickets() {
    TTable table;
    table.DatabaseName = "JUXRegs";
    table.TableName = "dbo.tickettaxis";
    table.Open();
    const struct {
        int legajo;
        const char* nombres;
        double importe;
        int ceco;
    } tickets[] = {{4711, "José María", 12.5, 120},
                   {4711, "José María", 8.3, 120},
                   {815, "Begoña", 20.1, 120},
                   {902, "", 7.0, 0}};
    int number = 1;
    for (const auto& ticket : tickets) {
        table.Append();
        table.FieldByName("ORIGEN").setAsString("P01");
        table.FieldByName("LEGAJO").setAsInteger(ticket.legajo);
        table.FieldByName("NOMBRES").setAsString(QString::fromUtf8(ticket.nombres));
        table.FieldByName("FECHA").setAsDateTime(Date() + 0.4);
        table.FieldByName("IMPORTE").setAsFloat(ticket.importe);
        table.FieldByName("CECO").setAsInteger(ticket.ceco);
        table.FieldByName("TICKET").setAsInteger(number++);
        table.Post();
    }
    table.Close();
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
    addTickets();

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

    TfRegAsist tickets;
    tickets.Table1.DatabaseName = tickets.Query1.DatabaseName = "JUXRegs";
    tickets.Table1.TableName = "tickettaxis";
    shoot(tickets, out + "/fRegAsist.png");
    setPreviewPresenter([&](const ReportPages& pages, const SaveForms&) {
        TReportPreview preview(pages);
        shoot(preview, out + "/resumen.png");
    });
    tickets.show();
    tickets.bResumenClick();
    tickets.reject();
    return 0;
}
