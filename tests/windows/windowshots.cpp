// Pictures of every window of the station with sample data, for the
// operator's guide (scripts/docs.sh runs it under Xvfb):
//   windowshots DIR                  the station collects two simulated points
//                                    (one answers, one is switched off) in three
//                                    manual cycles, and each window is opened
//                                    from the menu and shot as a person sees it
//   windowshots --sin-servidor DIR   the box of a start whose server table
//                                    cannot be reached
#include "ShotTools.h"
#include "ShotWorld.h"
#include "app/StationStart.h"
#include "collect/Cycles.h"
#include "station/PrincipalParts.h"
#include "station/uPrincipal.h"
#include "ui/Application.h"
#include "windows/uRegAsist.h"
#include "windows/uSaludPuntos.h"

#include <QComboBox>
#include <QDir>
#include <QMenuBar>
#include <memory>

namespace {

QString g_out;

QString shotPath(const QString& name) {
    return g_out + QLatin1Char('/') + name + QStringLiteral(".png");
}

void openFromMenu(TfPrincipal& f, const char* entry) {
    namedChild<QAction>(f, entry)->trigger();
}

bool runManualCycle(TfPrincipal& f) {
    namedChild<QPushButton>(f, "bDescargar")->click();
    return waitFor([&] { return !f.cycles().running(); }, 120000);
}

void shootMenus(TfPrincipal& f) {
    const QList<std::pair<QString, QString>> menus = {
        {QStringLiteral("&Configuración"), QStringLiteral("fPrincipal-configuracion")},
        {QStringLiteral("&Registros"), QStringLiteral("fPrincipal-registros")}};
    for (const QAction* entry : f.menuBar()->actions())
        for (const auto& [title, name] : menus)
            if (entry->menu() && entry->text() == title)
                shootMenu(f, *entry->menu(), shotPath(name));
}

// A preview shows the whole width of its page.
void pageWidth(QWidget& preview) {
    if (auto* zoom = preview.findChild<QComboBox*>())
        zoom->setCurrentIndex(zoom->findText(QStringLiteral("Ancho de página")));
}

// The ticket records, and from them the report, the summary and the export's
// save dialog.
void shootRecords(TfPrincipal& f) {
    const auto fromRecords = [](QWidget& window) {
        auto& records = static_cast<TfRegAsist&>(window);
        shootNextModal([&] { records.bRepClick(); }, shotPath(QStringLiteral("reporte")),
                       {pageWidth});
        shootNextModal([&] { records.bResumenClick(); }, shotPath(QStringLiteral("resumen")),
                       {pageWidth});
        shootNextModal([&] { records.TBExportarClick(); }, shotPath(QStringLiteral("exportar")));
    };
    shootNextModal([&] { openFromMenu(f, "RegistrosTaxi1"); },
                   shotPath(QStringLiteral("fRegAsist")), {{}, fromRecords});
}

void shootEditors(TfPrincipal& f) {
    const QList<std::pair<const char*, QString>> editors = {
        {"PuntosRegistroIP1", QStringLiteral("fPrIP")},
        {"Personal1", QStringLiteral("fPersonal")},
        {"CentrosCosto1", QStringLiteral("fCeco")}};
    for (const auto& [entry, name] : editors)
        shootNextModal([&] { openFromMenu(f, entry); }, shotPath(name));
}

void shootHealth(TfPrincipal& f) {
    openFromMenu(f, "EstadoPuntos1");
    if (auto* health = f.findChild<TfSaludPuntos*>()) {
        shootWindow(*health, shotPath(QStringLiteral("fSaludPuntos")));
        health->hide();
    }
}

int shootStation() {
    ShotWorld world;
    SimPoints sim({{kLivePoint, ShotWorld::morningTickets(1, 8)}});
    if (!sim.started()) {
        qCritical("the simulated registration points did not start");
        return 1;
    }
    sim.applyPorts();
    std::unique_ptr<TfPrincipal> f(createStationWindows());
    ShotWorld::fillTables(f->localAlias());
    f->show();
    if (!runManualCycle(*f))
        return 1;
    shootWindow(*f, shotPath(QStringLiteral("fPrincipal")));
    shootMenus(*f);
    shootEditors(*f);
    shootRecords(*f);
    // Two more cycles bring the switched-off point to the alert threshold.
    for (int first : {9, 11}) {
        sim.serve(kLivePoint, ShotWorld::morningTickets(first, 2));
        if (!runManualCycle(*f))
            return 1;
    }
    shootWindow(*f, shotPath(QStringLiteral("fPrincipal-alerta")));
    shootHealth(*f);
    shootNextModal([&] { openFromMenu(*f, "RegistroOperaciones1"); },
                   shotPath(QStringLiteral("fLog")));
    shootNextModal([&] { openFromMenu(*f, "Acercade1"); }, shotPath(QStringLiteral("FAboutBox")));
    return 0;
}

// Nothing listens on the discard port: the start-up test of the server table fails.
int shootServerDown() {
    ShotWorld world("[JUXRegs]\nDriver=postgres\nHost=127.0.0.1\nPort=9\nDatabase=kivo\n");
    std::unique_ptr<TfPrincipal> f;
    shootNextModal([&] { f.reset(createStationWindows()); },
                   shotPath(QStringLiteral("sin-servidor")));
    return f ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    KivoApplication app(argc, argv);
    setApplicationIdentity();
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool serverDown = args.removeAll(QStringLiteral("--sin-servidor")) > 0;
    g_out = QDir(args.value(0, QStringLiteral("."))).absolutePath();
    QDir().mkpath(g_out);
    return serverDown ? shootServerDown() : shootStation();
}
