// The data grid, navigator and data source over the store's data sets, on the
// embedded database (and on PostgreSQL when KIVO_TEST_PG is set).
#include "ErrorOf.h"
#include "GridFixture.h"
#include "platform/ErrorBox.h"
#include "platform/Registry.h"
#include "store/Schema.h"
#include "ui/Confirm.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"
#include "ui/DataSetModel.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QToolButton>
#include <memory>

class TestDBGrid : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void modelPassesTheTesterThroughEveryOperation();
    void unchangedNewRowIsDroppedNotPosted();
    void unchangedNewRowDroppedWhenGridLosesFocus();
    void deleteAsksFirst_data();
    void deleteAsksFirst();
    void textsStoredInTheStoresForms_data();
    void textsStoredInTheStoresForms();
    void textsReadBackOnPostgres_data();
    void textsReadBackOnPostgres();
    void badInputRefusedAndRowUnchanged_data();
    void badInputRefusedAndRowUnchanged();
    void postErrorShowsBoxAndKeepsEdit();
    void readOnlyGridRefusesEditing();
    void navigatorButtonsFollowPosition();
    void personnelNamesLimitedInTheEditor();

private:
    std::unique_ptr<GridWorld> m_world;
};

void TestDBGrid::init() {
    m_world = std::make_unique<GridWorld>();
}

void TestDBGrid::cleanup() {
    m_world.reset();
}

void TestDBGrid::modelPassesTheTesterThroughEveryOperation() {
    m_world->addPoints({{"192.0.2.1", "Portón", "L1", true}, {"192.0.2.2", "Taller", "L2", false}});
    TTable table = m_world->localTable("confRegIP.db");
    TDataSource source;
    TDataSetModel model(&source);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    source.setDataSet(&table);
    source.open();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 4);
    source.insert();
    QCOMPARE(model.rowCount(), 3);
    QVERIFY(model.setData(model.index(2, 0), "192.0.2.3"));
    QVERIFY(model.setData(model.index(2, 3), "True"));
    source.post();
    QCOMPARE(model.rowCount(), 3);
    QVERIFY(model.setData(model.index(0, 1), "Portón norte"));
    source.moveTo(1); // posts the edit of row 0
    source.remove();
    QCOMPARE(model.rowCount(), 2);
    source.insert();
    source.cancel();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("Portón norte"));
    QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("192.0.2.3"));
    source.close();
    QCOMPARE(model.rowCount(), 0);
}

void TestDBGrid::unchangedNewRowIsDroppedNotPosted() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}});
    TTable table = m_world->localTable("confRegIP.db");
    TDataSource source;
    source.setDataSet(&table);
    source.open();
    source.insert();
    source.first();
    QCOMPARE(source.state(), TDataSource::State::Browse);
    QCOMPARE(m_world->countRows("confRegIP"), 1);
}

void TestDBGrid::unchangedNewRowDroppedWhenGridLosesFocus() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}});
    TTable table = m_world->localTable("confRegIP.db");
    QWidget window;
    auto* grid = new TDBGrid(&window);
    auto* other = new QLineEdit(&window);
    grid->setDataSet(&table);
    grid->dataSource()->open();
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(grid->model()->rowCount(), 2);
    other->setFocus();
    QCOMPARE(grid->dataSource()->state(), TDataSource::State::Browse);
    QCOMPARE(grid->model()->rowCount(), 1);

    // A new row with something typed in it stays for the user to post.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Insert);
    QVERIFY(grid->model()->setData(grid->model()->index(1, 0), "192.0.2.9"));
    other->setFocus();
    QCOMPARE(grid->dataSource()->state(), TDataSource::State::Insert);
}

void TestDBGrid::deleteAsksFirst_data() {
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("confirmed") << true << 1;
    QTest::newRow("declined") << false << 2;
}

void TestDBGrid::deleteAsksFirst() {
    QFETCH(bool, answer);
    QFETCH(int, rowsAfter);
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}, {"192.0.2.2", "B", "L2", true}});
    TTable table = m_world->localTable("confRegIP.db");
    TDataSource source;
    source.setDataSet(&table);
    source.open();
    TDBNavigator navigator;
    navigator.setDataSource(&source);
    QStringList asked;
    setConfirmPresenter([&](const QString& text) {
        asked << text;
        return answer;
    });
    navigator.BtnClick(TDBNavigator::nbDelete);
    setConfirmPresenter({});
    QCOMPARE(asked, QStringList{QStringLiteral("Delete record?")});
    QCOMPARE(m_world->countRows("confRegIP"), rowsAfter);
    QCOMPARE(source.rowCount(), rowsAfter);
}

// What the grid shows for a typed text, and what the store then reads.
void TestDBGrid::textsStoredInTheStoresForms_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QVariant>("read"); // what the store's typed reader returns
    QTest::newRow("date") << "log.DB"
                          << "Fecha"
                          << "8/12/2026"
                          << "08/12/2026" << QVariant(encodeDate(2026, 12, 8));
    QTest::newRow("date, two-digit year") << "log.DB"
                                          << "Fecha"
                                          << "29-02-24"
                                          << "29/02/2024" << QVariant(encodeDate(2024, 2, 29));
    QTest::newRow("time") << "log.DB"
                          << "Hora"
                          << "10:27:45"
                          << "10:27:45" << QVariant(encodeTime(10, 27, 45));
    QTest::newRow("time without seconds") << "log.DB"
                                          << "Hora"
                                          << "7:05"
                                          << "07:05:00" << QVariant(encodeTime(7, 5, 0));
    QTest::newRow("logical true") << "personal.DBF"
                                  << "SERV_TAXI"
                                  << "true"
                                  << "True" << QVariant(true);
    QTest::newRow("logical Spanish no") << "personal.DBF"
                                        << "SERV_TAXI"
                                        << "No"
                                        << "False" << QVariant(false);
    QTest::newRow("integer") << "personal.DBF"
                             << "CODIGO"
                             << " 4711 "
                             << "4711" << QVariant(4711);
    QTest::newRow("accents and Ñ as typed")
        << "personal.DBF"
        << "NOMBRES"
        << "José Ñandú  "
        << "José Ñandú  " << QVariant(QStringLiteral("José Ñandú  "));
    QTest::newRow("very long text as typed")
        << "log.DB"
        << "Archivo" << QString(5000, 'x') << QString(5000, 'x') << QVariant(QString(5000, 'x'));
}

void TestDBGrid::textsStoredInTheStoresForms() {
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QVariant, read);
    m_world->checkTextRoundTrip(table, field, typed, shown, read);
}

void TestDBGrid::textsReadBackOnPostgres_data() {
    textsStoredInTheStoresForms_data();
}

void TestDBGrid::textsReadBackOnPostgres() {
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QVariant, read);
    if (!m_world->usePostgresLocalAlias())
        QSKIP("KIVO_TEST_PG is not set");
    m_world->checkTextRoundTrip(table, field, typed, shown, read);
}

void TestDBGrid::badInputRefusedAndRowUnchanged_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("text in a number") << "CODIGO"
                                      << "12a"
                                      << "'12a' is not a valid integer";
    QTest::newRow("number too large") << "TARJETA"
                                      << "99999999999"
                                      << "'99999999999' is not a valid integer";
    QTest::newRow("fraction in a whole number") << "GRUPO"
                                                << "1,5"
                                                << "'1,5' is not a valid integer";
    QTest::newRow("no logical") << "SERV_TAXI"
                                << "quizás"
                                << "'quizás' is not a valid logical";
}

void TestDBGrid::badInputRefusedAndRowUnchanged() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    m_world->addPerson(7, "Ana", true);
    TTable table = m_world->localTable("personal.DBF");
    TDataSource source;
    TDataSetModel model(&source);
    source.setDataSet(&table);
    source.open();
    const int column = m_world->columnOf(table, field);
    const QString before = model.data(model.index(0, column)).toString();
    QVERIFY(!model.setData(model.index(0, column), typed));
    QCOMPARE(m_world->boxes.size(), 1);
    QVERIFY2(m_world->boxes[0].startsWith(message), qPrintable(m_world->boxes[0]));
    QCOMPARE(model.data(model.index(0, column)).toString(), before);
    source.post();
    source.close();
    source.open();
    QCOMPARE(table.FieldByName("CODIGO").AsInteger(), 7);
    QCOMPARE(table.FieldByName("NOMBRES").AsString(), QStringLiteral("Ana"));
    QCOMPARE(table.FieldByName("SERV_TAXI").AsBoolean(), true);
}

// A write the engine refuses (here a database that became read-only) shows
// the standard error box; the row stays in edit with what was typed.
void TestDBGrid::postErrorShowsBoxAndKeepsEdit() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}});
    TTable table = m_world->localTable("confRegIP.db");
    TDataSource source;
    TDataSetModel model(&source);
    source.setDataSet(&table);
    source.open();
    TDBNavigator navigator;
    navigator.setDataSource(&source);
    QVERIFY(model.setData(model.index(0, 1), "Cambiado"));
    QSqlQuery(m_world->localConnection()).exec("PRAGMA query_only = ON");
    navigator.BtnClick(TDBNavigator::nbPost);
    QCOMPARE(m_world->boxes.size(), 1);
    QVERIFY2(m_world->boxes[0].contains("readonly"), qPrintable(m_world->boxes[0]));
    QCOMPARE(source.state(), TDataSource::State::Edit);
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("Cambiado"));

    QSqlQuery(m_world->localConnection()).exec("PRAGMA query_only = OFF");
    navigator.BtnClick(TDBNavigator::nbPost);
    QCOMPARE(source.state(), TDataSource::State::Browse);
    QCOMPARE(m_world->boxes.size(), 1);
}

void TestDBGrid::readOnlyGridRefusesEditing() {
    m_world->addLog("uno");
    TDBGrid grid;
    grid.setTable("KIVO_1", "log.DB");
    grid.setReadOnly(true);
    grid.dataSource()->open();
    QVERIFY(!(grid.model()->flags(grid.model()->index(0, 2)) & Qt::ItemIsEditable));
    QVERIFY(!grid.model()->setData(grid.model()->index(0, 2), "otro"));
    QTest::keyClick(&grid, Qt::Key_Insert);
    QCOMPARE(grid.model()->rowCount(), 1);
    QCOMPARE(m_world->countRows("log"), 1);
}

void TestDBGrid::navigatorButtonsFollowPosition() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}, {"192.0.2.2", "B", "L2", true}});
    TDBGrid grid;
    grid.setTable("KIVO_1", "confRegIP.db");
    TDBNavigator navigator;
    navigator.setDataSource(grid.dataSource());
    QSignalSpy rows(&grid, &TDBGrid::currentRowChanged);
    grid.dataSource()->open();
    auto enabled = [&](TDBNavigator::Button b) { return navigator.button(b)->isEnabled(); };
    QVERIFY(!enabled(TDBNavigator::nbPrior) && enabled(TDBNavigator::nbNext));
    QVERIFY(!enabled(TDBNavigator::nbPost) && enabled(TDBNavigator::nbEdit));
    navigator.BtnClick(TDBNavigator::nbLast);
    QCOMPARE(grid.currentRow(), 1);
    QCOMPARE(grid.currentIndex().row(), 1);
    QVERIFY(enabled(TDBNavigator::nbPrior) && !enabled(TDBNavigator::nbNext));
    navigator.BtnClick(TDBNavigator::nbEdit);
    QVERIFY(enabled(TDBNavigator::nbPost) && enabled(TDBNavigator::nbCancel));
    QCOMPARE(grid.model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("I"));
    grid.setCurrentRow(0);
    QCOMPARE(grid.dataSource()->currentRow(), 0);
    QCOMPARE(rows.last().at(0).toInt(), 0);
}

void TestDBGrid::personnelNamesLimitedInTheEditor() {
    m_world->addPerson(7, "Ana", true);
    QWidget window;
    auto* grid = new TDBGrid(&window);
    grid->setTable("KIVO_1", "personal.DBF");
    grid->setMaxLength("NOMBRES", 20);
    grid->dataSource()->open();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    grid->edit(grid->model()->index(0, 1));
    auto* editor = grid->findChild<QLineEdit*>();
    QVERIFY(editor);
    QCOMPARE(editor->maxLength(), 20);
}

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"
