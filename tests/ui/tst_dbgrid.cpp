// The data grid, navigator and data source over the store's data sets, on the
// embedded database (and on PostgreSQL when KIVO_TEST_PG is set).
#include "ErrorOf.h"
#include "GridFixture.h"
#include "platform/ErrorBox.h"
#include "platform/Regional.h"
#include "platform/Registry.h"
#include "store/Schema.h"
#include "ui/Confirm.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"
#include "ui/DataSetModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
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
    void typingTabAndLeavingTheRowPosts();
    void deleteAsksFirst_data();
    void deleteAsksFirst();
    void textsStoredInTheStoresForms_data();
    void textsStoredInTheStoresForms();
    void textsReadBackOnPostgres_data();
    void textsReadBackOnPostgres();
    void regionalPictures_data();
    void regionalPictures();
    void badInputRefusedAndRowUnchanged_data();
    void badInputRefusedAndRowUnchanged();
    void postErrorShowsBoxAndKeepsEdit();
    void postAfterTheServerWentAway();
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

// As a person works: Insert, type, Tab to the next cell, Up to leave the row.
void TestDBGrid::typingTabAndLeavingTheRowPosts() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}});
    TTable table = m_world->localTable("confRegIP.db");
    QWidget window;
    auto* grid = new TDBGrid(&window);
    grid->setDataSet(&table);
    grid->dataSource()->open();
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Insert);
    QTest::keyClick(grid, Qt::Key_1); // starts the cell editor
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != grid);
    QTest::keyClicks(editor, "92.0.2.9");
    QTest::keyClick(editor, Qt::Key_Tab);
    QCOMPARE(grid->currentIndex(), grid->model()->index(1, 1));
    QCOMPARE(grid->model()->data(grid->model()->index(1, 0)).toString(),
             QStringLiteral("192.0.2.9"));
    QCOMPARE(m_world->countRows("confRegIP"), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(grid->dataSource()->currentRow(), 0);
    QCOMPARE(m_world->countRows("confRegIP"), 2);
    QVERIFY(m_world->boxes.isEmpty());
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

// Typed texts follow the user's own short date and long time pictures.
void TestDBGrid::regionalPictures_data() {
    QTest::addColumn<QString>("shortDate");
    QTest::addColumn<QString>("longTime");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("stored"); // -1: refused
    const double dec8 = encodeDate(2026, 12, 8);
    QTest::newRow("month first") << "M/d/yyyy"
                                 << "HH:mm:ss"
                                 << "Fecha"
                                 << "12/8/2026" << dec8;
    QTest::newRow("month first, day 13 refused") << "M/d/yyyy"
                                                 << "HH:mm:ss"
                                                 << "Fecha"
                                                 << "13/8/2026" << -1.0;
    QTest::newRow("year first") << "yyyy-MM-dd"
                                << "HH:mm:ss"
                                << "Fecha"
                                << "2026-12-08" << dec8;
    QTest::newRow("dots, short year") << "dd.MM.yy"
                                      << "HH:mm:ss"
                                      << "Fecha"
                                      << "08.12.26" << dec8;
    QTest::newRow("leap day of a common year") << "dd/MM/yyyy"
                                               << "HH:mm:ss"
                                               << "Fecha"
                                               << "29/02/2025" << -1.0;
    QTest::newRow("afternoon mark") << "dd/MM/yyyy"
                                    << "h:mm:ss tt"
                                    << "Hora"
                                    << "10:27:45 PM" << encodeTime(22, 27, 45);
    QTest::newRow("midnight hour with mark") << "dd/MM/yyyy"
                                             << "h:mm:ss tt"
                                             << "Hora"
                                             << "12:05 AM" << encodeTime(0, 5, 0);
    QTest::newRow("13 with a mark refused") << "dd/MM/yyyy"
                                            << "h:mm:ss tt"
                                            << "Hora"
                                            << "13:00 PM" << -1.0;
}

void TestDBGrid::regionalPictures() {
    QFETCH(QString, shortDate);
    QFETCH(QString, longTime);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(double, stored);
    TRegistry registry;
    QVERIFY(registry.OpenKey("\\Control Panel\\International", true));
    registry.WriteString("sShortDate", shortDate);
    registry.WriteString("sLongTime", longTime);
    registry.WriteString("s1159", "AM");
    registry.WriteString("s2359", "PM");
    reloadFormatSettings();
    TTable table = m_world->localTable("log.DB");
    table.Append();
    const QString error = errorOf([&] { table.FieldByName(field).setText(typed); });
    if (stored < 0) {
        QVERIFY2(error.contains("is not a valid"), qPrintable(error));
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    table.Post();
    table.Close();
    table.Open();
    table.Last();
    QCOMPARE(table.FieldByName(field).AsDateTime(), stored);
}

void TestDBGrid::badInputRefusedAndRowUnchanged_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("text in a number") << "personal.DBF"
                                      << "CODIGO"
                                      << "12a"
                                      << "'12a' is not a valid integer";
    QTest::newRow("number too large") << "personal.DBF"
                                      << "TARJETA"
                                      << "99999999999"
                                      << "'99999999999' is not a valid integer";
    QTest::newRow("fraction in a whole number") << "personal.DBF"
                                                << "GRUPO"
                                                << "1,5"
                                                << "'1,5' is not a valid integer";
    QTest::newRow("no logical") << "personal.DBF"
                                << "SERV_TAXI"
                                << "quizás"
                                << "'quizás' is not a valid logical";
    QTest::newRow("date that does not exist") << "log.DB"
                                              << "Fecha"
                                              << "31/02/2026"
                                              << "'31/02/2026' is not a valid date";
    QTest::newRow("date with a month name") << "log.DB"
                                            << "Fecha"
                                            << "8 dic 2026"
                                            << "'8 dic 2026' is not a valid date";
    QTest::newRow("hour out of range") << "log.DB"
                                       << "Hora"
                                       << "25:10"
                                       << "'25:10' is not a valid time";
    QTest::newRow("number in a time") << "log.DB"
                                      << "Hora"
                                      << "1030"
                                      << "'1030' is not a valid time";
}

void TestDBGrid::badInputRefusedAndRowUnchanged() {
    QFETCH(QString, table);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    m_world->addPerson(7, "Ana", true);
    m_world->addLog("uno");
    TTable edited = m_world->localTable(table);
    TDataSource source;
    TDataSetModel model(&source);
    source.setDataSet(&edited);
    source.open();
    auto rowTexts = [&] {
        QStringList texts;
        for (int i = 0; i < model.columnCount(); ++i)
            texts << model.data(model.index(0, i)).toString();
        return texts;
    };
    const QStringList before = rowTexts();
    const int column = m_world->columnOf(edited, field);
    QVERIFY(!model.setData(model.index(0, column), typed));
    QCOMPARE(m_world->boxes.size(), 1);
    QVERIFY2(m_world->boxes[0].startsWith(message), qPrintable(m_world->boxes[0]));
    QCOMPARE(rowTexts(), before);
    source.post();
    source.close();
    source.open();
    QCOMPARE(rowTexts(), before);
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

void TestDBGrid::postAfterTheServerWentAway() {
    if (!m_world->usePostgresLocalAlias())
        QSKIP("KIVO_TEST_PG is not set");
    m_world->addLog("uno");
    TTable table = m_world->localTable("log.DB");
    TDataSource source;
    TDataSetModel model(&source);
    source.setDataSet(&table);
    source.open();
    TDBNavigator navigator;
    navigator.setDataSource(&source);
    QVERIFY(model.setData(model.index(0, 2), "dos"));
    // The server ends the session, as a restarted server does.
    QSqlQuery(m_world->localConnection()).exec("SELECT pg_terminate_backend(pg_backend_pid())");
    navigator.BtnClick(TDBNavigator::nbPost);
    QCOMPARE(m_world->boxes.size(), 1);
    QCOMPARE(source.state(), TDataSource::State::Edit);
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("dos"));
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
