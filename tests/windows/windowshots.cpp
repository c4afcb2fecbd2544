// Shows each secondary window with sample rows, one after the other, and saves
// a picture of the screen for each into the directory given as argument. Run
// under Xvfb: xvfb-run -a -s "-screen 0 1280x800x24" build/tests/windows/windowshots shots
#include "platform/Clock.h"
#include "platform/ErrorBox.h"
#include "report/preview/ReportPreview.h"
#include "ui/DBGrid.h"
#include "ui/GridFixture.h"
#include "windows/UAboutBox.h"
#include "windows/uCeco.h"
#include "windows/uLog.h"
#include "windows/uPersonal.h"
#include "windows/uPrIP.h"
#include "windows/uRegAsist.h"
#include "windows/uSaludPuntos.h"

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
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

// Enough people in enough CECOs for a summary of several pages.
void addManyTickets() {
    TTable table;
    table.DatabaseName = "JUXRegs";
    table.TableName = "dbo.tickettaxis";
    table.Open();
    for (int i = 0; i < 240; ++i) {
        table.Append();
        table.FieldByName("ORIGEN").setAsString("P02");
        table.FieldByName("LEGAJO").setAsInteger(5000 + i % 120);
        table.FieldByName("NOMBRES").setAsString(QStringLiteral("Persona %1").arg(i % 120));
        table.FieldByName("FECHA").setAsDateTime(Date() + 0.5);
        table.FieldByName("IMPORTE").setAsFloat(1234.5 + i);
        table.FieldByName("CECO").setAsInteger(200 + (i % 120) / 10);
        table.FieldByName("TICKET").setAsInteger(100 + i);
        table.Post();
    }
    table.Close();
}

PointHealthView point(const QString& ip, const QString& desc, const QString& loc, bool active) {
    PointHealthView p;
    p.ip = ip;
    p.desc = desc;
    p.loc = loc;
    p.active = active;
    return p;
}

// Points in each state; one failing for days with a long reason, backed off.
QList<PointHealthView> samplePoints() {
    const QDateTime now = currentDateTime();
    PointHealthView ok = point("192.0.2.50", "Portón principal", "P01", true);
    ok.state = PointHealthView::State::Ok;
    ok.lastAttempt = ok.lastSuccess = now.addSecs(-300);
    ok.recordsLast = 42;
    ok.recordsToday = 1250;
    PointHealthView down =
        point("192.0.2.51", "Depósito Ñandú, andén sur junto a la báscula", "P02", true);
    down.state = PointHealthView::State::Down;
    down.lastAttempt = down.lastFailure = now.addSecs(-600);
    down.lastSuccess = now.addDays(-3);
    down.failingSince = now.addDays(-3).addSecs(900);
    down.failureText = "FTP: tiempo agotado esperando la respuesta del servidor (60000 ms) al "
                       "pedir nroRegAsist.ras";
    down.failuresInRow = 20;
    down.nextTry = "en 8 ciclo(s), a más tardar 08:05";
    PointHealthView off = point("192.0.2.52", "Taller", "P03", false);
    off.state = PointHealthView::State::Inactive;
    return {ok, down, off};
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
    addManyTickets();
    setPreviewPresenter([&](const ReportPages& pages, const SaveForms&) {
        TReportPreview preview(pages);
        shoot(preview, out + "/resumen.png");
        preview.bLastClick();
        shoot(preview, out + "/resumen-last.png");
    });
    tickets.show();
    tickets.bResumenClick();
    setBoxPresenter([&](const QString& caption, const QString& text, BoxIcon) {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok);
        shoot(box, out + "/resumen-reversed.png");
    });
    tickets.dtpDesde->setDate(QDate(2026, 12, 1));
    tickets.dtpHasta->setDate(QDate(2025, 12, 21));
    tickets.bResumenClick();
    tickets.reject();

    TfSaludPuntos health(nullptr, samplePoints, [](const HealthPolicy&) {});
    health.resize(1024, health.height());
    shoot(health, out + "/fSaludPuntos.png");
    return 0;
}
