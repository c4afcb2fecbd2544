// "Estado de los puntos": what its rows say and how they fit.
#include "platform/Regional.h"
#include "platform/Registry.h"
#include "ui/GridFixture.h"
#include "windows/uSaludPuntos.h"

#include <QHeaderView>
#include <QScrollBar>
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

// A point that has been failing since 9 December 2026 at 08:05:03, with a
// long description, reason and next try.
PointHealthView failingPoint() {
    PointHealthView p;
    p.ip = QStringLiteral("192.0.2.50");
    p.desc = QStringLiteral("Depósito Ñandú, andén sur junto a la báscula");
    p.loc = QStringLiteral("P01");
    p.state = PointHealthView::State::Down;
    p.lastAttempt = p.lastFailure = QDateTime(QDate(2026, 12, 10), QTime(14, 0, 0));
    p.lastSuccess = QDateTime(QDate(2026, 12, 9), QTime(7, 55, 0));
    p.failureText = QStringLiteral("FTP: tiempo agotado esperando la respuesta del servidor "
                                   "(60000 ms) al pedir nroRegAsist.ras");
    p.failingSince = QDateTime(QDate(2026, 12, 9), QTime(8, 5, 3));
    p.failuresInRow = 20;
    p.nextTry = QStringLiteral("en 8 ciclo(s), a más tardar 08:05");
    return p;
}

} // namespace

class TestSaludPuntos : public QObject {
    Q_OBJECT
private slots:
    void init() { m_world = std::make_unique<GridWorld>(); }
    void cleanup() { m_world.reset(); }

    void timesInTheRegionalFormats();
    void saysSinceWhenAPointFails();
    void fits1024PixelsWithTheReasonElided();

private:
    std::unique_ptr<GridWorld> m_world;
};

// The short date and long time of the regional settings, as the station's
// other windows show them.
void TestSaludPuntos::timesInTheRegionalFormats() {
    setRegion(QStringLiteral("d/M/yyyy"), QStringLiteral("H:mm:ss"));
    TfSaludPuntos window(
        nullptr, [] { return QList<PointHealthView>{failingPoint()}; }, [](const HealthPolicy&) {});
    window.refresh();
    const QAbstractItemModel* rows = window.gPuntos->model();
    QCOMPARE(rows->index(0, columnTitled(*window.gPuntos, "Último\néxito")).data().toString(),
             QString("9/12/2026\n7:55:00"));
}

void TestSaludPuntos::saysSinceWhenAPointFails() {
    TfSaludPuntos window(
        nullptr, [] { return QList<PointHealthView>{failingPoint()}; }, [](const HealthPolicy&) {});
    window.refresh();
    const int column = columnTitled(*window.gPuntos, "Falla\ndesde");
    QVERIFY(column >= 0);
    QCOMPARE(window.gPuntos->model()->index(0, column).data().toString(),
             QString("09/12/2026\n08:05:03"));
}

// No horizontal scrolling at 1024 px: the reason gives up its width, elided,
// with its whole text as the tip.
void TestSaludPuntos::fits1024PixelsWithTheReasonElided() {
    PointHealthView idle = failingPoint();
    idle.ip = QStringLiteral("192.168.100.200");
    idle.state = PointHealthView::State::Ok;
    idle.recordsToday = 65535;
    TfSaludPuntos window(
        nullptr,
        [&] {
            return QList<PointHealthView>{failingPoint(), idle};
        },
        [](const HealthPolicy&) {});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(1024, 420); // after the window has taken its designed size
    window.refresh();
    QCoreApplication::processEvents();
    QCOMPARE(window.width(), 1024);
    QCOMPARE(window.gPuntos->horizontalScrollBar()->maximum(), 0);
    const int reason = columnTitled(*window.gPuntos, "Motivo");
    const QModelIndex cell = window.gPuntos->model()->index(0, reason);
    QVERIFY(window.gPuntos->columnWidth(reason) <
            window.gPuntos->fontMetrics().horizontalAdvance(failingPoint().failureText));
    QCOMPARE(cell.data(Qt::ToolTipRole).toString(), failingPoint().failureText);
}

QTEST_MAIN(TestSaludPuntos)
#include "tst_saludpuntos.moc"
