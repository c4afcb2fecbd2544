// "Estado de los puntos": what its rows say and how they fit.
#include "platform/Regional.h"
#include "platform/Registry.h"
#include "ui/GridFixture.h"
#include "windows/uSaludPuntos.h"

#include <QHeaderView>
#include <QTableView>
#include <QTest>

namespace {

void setRegion(const QString& shortDate, const QString& longTime) {
    TRegistry registry;
    registry.OpenKey(QStringLiteral("\\Control Panel\\International"), true);
    registry.WriteString(QStringLiteral("sShortDate"), shortDate);
    registry.WriteString(QStringLiteral("sLongTime"), longTime);
    registry.CloseKey();
    reloadFormatSettings();
}

// The column titled `title`, -1 when there is none.
int columnTitled(const QTableView& view, const QString& title) {
    const QAbstractItemModel* model = view.model();
    for (int column = 0; column < model->columnCount(); ++column)
        if (model->headerData(column, Qt::Horizontal).toString() == title)
            return column;
    return -1;
}

// A point that has been failing since 9 December 2026 at 08:05:03.
PointHealthView failingPoint() {
    PointHealthView p;
    p.ip = QStringLiteral("192.0.2.50");
    p.desc = QStringLiteral("Portón principal");
    p.loc = QStringLiteral("P01");
    p.state = PointHealthView::State::Down;
    p.lastAttempt = p.lastFailure = QDateTime(QDate(2026, 12, 10), QTime(14, 0, 0));
    p.lastSuccess = QDateTime(QDate(2026, 12, 9), QTime(7, 55, 0));
    p.failureText = QStringLiteral("FTP: tiempo agotado esperando la respuesta del servidor");
    p.failuresInRow = 20;
    return p;
}

} // namespace

class TestSaludPuntos : public QObject {
    Q_OBJECT
private slots:
    void init() { m_world = std::make_unique<GridWorld>(); }
    void cleanup() { m_world.reset(); }

    void timesInTheRegionalFormats();

private:
    std::unique_ptr<GridWorld> m_world;
};

// The short date and long time of the regional settings, as the station's
// other windows show them.
void TestSaludPuntos::timesInTheRegionalFormats() {
    setRegion(QStringLiteral("d/M/yyyy"), QStringLiteral("H:mm:ss"));
    TfSaludPuntos window(
        nullptr, [] { return QList<PointHealthView>{failingPoint()}; },
        [](const HealthPolicy&) {});
    window.refresh();
    const QAbstractItemModel* rows = window.gPuntos->model();
    QCOMPARE(rows->index(0, columnTitled(*window.gPuntos, "Último éxito")).data().toString(),
             QString("9/12/2026 7:55:00"));
}

QTEST_MAIN(TestSaludPuntos)
#include "tst_saludpuntos.moc"
