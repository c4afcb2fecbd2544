// The table editors, the log viewer and the about box on the embedded database.
#include "ui/Confirm.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"
#include "ui/DataSetModel.h"
#include "ui/GridFixture.h"
#include "windows/PointAddress.h"
#include "windows/UAboutBox.h"
#include "windows/uCeco.h"
#include "windows/uLog.h"
#include "windows/uPersonal.h"
#include "windows/uPrIP.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace {

// Opens a window as the menu does, without waiting for it to close.
template <typename Window> void showWindow(Window& window) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

} // namespace

class TestEditors : public QObject {
    Q_OBJECT

private slots:
    void init() { m_world = std::make_unique<GridWorld>(); }
    void cleanup() {
        setConfirmPresenter({});
        m_world.reset();
    }

    void editorsAsDesigned_data();
    void editorsAsDesigned();
    void emptyTableCountsZero();
    void deleteAsksAndLowersTheCounter();
    void newRowCountedAtTheNextRowChange();
    void reopeningAfterAnUnpostedChangeShowsTheOldRow();
    void tableThatCannotOpenLeavesTheWindowOpen();
    void postErrorInTheEditorKeepsTheRowInEdit();
    void rowWithoutItsKeyIsRefused_data();
    void rowWithoutItsKeyIsRefused();
    void editDuringACycleReachesTheNextCycle();
    void pointWebPage_data();
    void pointWebPage();
    void configurarOpensTheCurrentPointsPage();
    void logViewerSelectsTheNewestAndDoesNotRefresh();
    void logViewerTipIsTheWholeRow();
    void aboutBox();

private:
    std::unique_ptr<GridWorld> m_world;
};

void TestEditors::editorsAsDesigned_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("points") << "fPrIP"
                            << "Puntos de registro IP"
                            << QStringList{"IP", "Desc", "Loc", "Activo"};
    QTest::newRow("personnel") << "fPersonal"
                               << "Personal" << QStringList{"CODIGO",  "NOMBRES", "APELLIDOS",
                                                            "TARJETA", "GRUPO",   "SERV_TAXI"};
    QTest::newRow("cost centres") << "fCeco"
                                  << "Centros de costo"
                                  << QStringList{"CECO", "OVERTIME", "VIAJES"};
}

void TestEditors::editorsAsDesigned() {
    QFETCH(QString, which);
    QFETCH(QString, caption);
    QFETCH(QStringList, titles);
    std::unique_ptr<TTableEditor> editor;
    if (which == "fPrIP")
        editor = std::make_unique<TfPrIP>();
    else if (which == "fPersonal")
        editor = std::make_unique<TfPersonal>();
    else
        editor = std::make_unique<TfCeco>();
    editor->Table1.DatabaseName = "KIVO_1";
    QCOMPARE(editor->objectName(), which);
    QCOMPARE(editor->windowTitle(), caption);
    QCOMPARE(editor->lCount->text(), QStringLiteral("---"));
    QCOMPARE(editor->Panel1->height(), 33);
    showWindow(*editor);
    QStringList shown;
    for (int i = 0; i < editor->DBGrid1->model()->columnCount(); ++i)
        shown << editor->DBGrid1->model()->headerData(i, Qt::Horizontal).toString();
    QCOMPARE(shown, titles);
    QCOMPARE(editor->findChild<QPushButton*>("bConfigurar") != nullptr, which == "fPrIP");
    editor->reject();
    QVERIFY(!editor->Table1.Active());
}

void TestEditors::emptyTableCountsZero() {
    TfCeco editor;
    editor.Table1.DatabaseName = "KIVO_1";
    showWindow(editor);
    QCOMPARE(editor.lCount->text(), QStringLiteral("Registros: 0"));
}

void TestEditors::deleteAsksAndLowersTheCounter() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}, {"192.0.2.2", "B", "L2", true}});
    TfPrIP editor;
    editor.Table1.DatabaseName = "KIVO_1";
    showWindow(editor);
    QCOMPARE(editor.lCount->text(), QStringLiteral("Registros: 2"));
    int asked = 0;
    setConfirmPresenter([&](const QString&) { return ++asked > 1; }); // no, then yes
    editor.DBNavigator->BtnClick(TDBNavigator::nbDelete);
    QCOMPARE(editor.lCount->text(), QStringLiteral("Registros: 2"));
    editor.DBNavigator->BtnClick(TDBNavigator::nbDelete);
    QCOMPARE(asked, 2);
    QCOMPARE(editor.lCount->text(), QStringLiteral("Registros: 1"));
    QCOMPARE(m_world->countRows("confRegIP"), 1);
}

void TestEditors::newRowCountedAtTheNextRowChange() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}});
    TfPrIP editor;
    editor.Table1.DatabaseName = "KIVO_1";
    showWindow(editor);
    QAbstractItemModel* model = editor.DBGrid1->model();
    editor.DBNavigator->BtnClick(TDBNavigator::nbInsert);
    QVERIFY(model->setData(model->index(1, 0), "192.0.2.7"));
    editor.DBNavigator->BtnClick(TDBNavigator::nbPost);
    QCOMPARE(m_world->countRows("confRegIP"), 2);
    QCOMPARE(editor.lCount->text(), QStringLiteral("Registros: 1"));
    editor.DBNavigator->BtnClick(TDBNavigator::nbFirst);
    QCOMPARE(editor.lCount->text(), QStringLiteral("Registros: 2"));
}

void TestEditors::reopeningAfterAnUnpostedChangeShowsTheOldRow() {
    m_world->addPoints({{"192.0.2.1", "Portón", "L1", true}});
    TfPrIP editor;
    editor.Table1.DatabaseName = "KIVO_1";
    showWindow(editor);
    QAbstractItemModel* model = editor.DBGrid1->model();
    QVERIFY(model->setData(model->index(0, 1), "Cambiado"));
    editor.reject();
    showWindow(editor);
    QCOMPARE(model->data(model->index(0, 1)).toString(), QStringLiteral("Portón"));
    QCOMPARE(editor.DataSource1.state(), TDataSource::State::Browse);
}

void TestEditors::tableThatCannotOpenLeavesTheWindowOpen() {
    QFile(m_world->store.env.path("empty.sqlite")).open(QIODevice::WriteOnly); // no tables
    m_world->store.env.writeFile("aliases.ini",
                                 "[EMPTY]\nDriver=sqlite\nPath=" +
                                     m_world->store.env.path("empty.sqlite").toUtf8());
    TfPersonal editor;
    editor.Table1.DatabaseName = "EMPTY";
    showWindow(editor);
    QVERIFY(editor.isVisible());
    QCOMPARE(m_world->boxes.size(), 1);
    QVERIFY2(m_world->boxes[0].contains("personal"), qPrintable(m_world->boxes[0]));
    QCOMPARE(editor.lCount->text(), QStringLiteral("---"));
    QCOMPARE(editor.DBGrid1->model()->rowCount(), 0);
    editor.reject();
}

// A key violation reported by the engine on post.
void TestEditors::postErrorInTheEditorKeepsTheRowInEdit() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}});
    QSqlQuery(m_world->localConnection()).exec("CREATE UNIQUE INDEX ip_once ON confRegIP (IP)");
    TfPrIP editor;
    editor.Table1.DatabaseName = "KIVO_1";
    showWindow(editor);
    QAbstractItemModel* model = editor.DBGrid1->model();
    editor.DBNavigator->BtnClick(TDBNavigator::nbInsert);
    QVERIFY(model->setData(model->index(1, 0), "192.0.2.1"));
    editor.DBNavigator->BtnClick(TDBNavigator::nbFirst); // leaving the row posts it
    QCOMPARE(m_world->boxes.size(), 1);
    QVERIFY2(m_world->boxes[0].contains("UNIQUE"), qPrintable(m_world->boxes[0]));
    QCOMPARE(editor.DataSource1.state(), TDataSource::State::Insert);
    QCOMPARE(editor.DBGrid1->currentIndex().row(), 1);
    QCOMPARE(model->data(model->index(1, 0)).toString(), QStringLiteral("192.0.2.1"));
    editor.DBNavigator->BtnClick(TDBNavigator::nbCancel);
    QCOMPARE(model->rowCount(), 1);
}

void TestEditors::rowWithoutItsKeyIsRefused_data() {
    QTest::addColumn<bool>("personnel");
    QTest::addColumn<QString>("key");
    QTest::newRow("person without CODIGO") << true << "CODIGO";
    QTest::newRow("cost centre without CECO") << false << "CECO";
}

// The row stays in edit with a message; nothing reaches the table.
void TestEditors::rowWithoutItsKeyIsRefused() {
    QFETCH(bool, personnel);
    QFETCH(QString, key);
    std::unique_ptr<TTableEditor> editor;
    if (personnel)
        editor = std::make_unique<TfPersonal>();
    else
        editor = std::make_unique<TfCeco>();
    editor->Table1.DatabaseName = "KIVO_1";
    showWindow(*editor);
    QAbstractItemModel* model = editor->DBGrid1->model();
    editor->DBNavigator->BtnClick(TDBNavigator::nbInsert);
    QVERIFY(model->setData(model->index(0, 1), "7"));
    editor->DBNavigator->BtnClick(TDBNavigator::nbPost);
    QCOMPARE(m_world->boxes.size(), 1);
    QVERIFY2(m_world->boxes[0].contains("'" + key + "' must have a value"),
             qPrintable(m_world->boxes[0]));
    QCOMPARE(editor->DataSource1.state(), TDataSource::State::Insert);
    QCOMPARE(m_world->countRows(personnel ? "personal" : "ceco"), 0);
    editor->DBNavigator->BtnClick(TDBNavigator::nbCancel);
}

// The cycle walks the rows it read when it started; an edit posted meanwhile
// is in the table for the next cycle.
void TestEditors::editDuringACycleReachesTheNextCycle() {
    m_world->addPoints({{"192.0.2.1", "A", "L1", true}, {"192.0.2.2", "B", "L2", true}});
    TTable tPrIP;
    tPrIP.DatabaseName = "KIVO_1";
    tPrIP.TableName = "confRegIP.db";
    tPrIP.Open();
    tPrIP.First();
    QCOMPARE(tPrIP.FieldByName("IP").AsString(), QStringLiteral("192.0.2.1"));

    TfPrIP editor;
    editor.Table1.DatabaseName = "KIVO_1";
    showWindow(editor);
    QAbstractItemModel* model = editor.DBGrid1->model();
    QVERIFY(model->setData(model->index(1, 1), "B nuevo"));
    QVERIFY(model->setData(model->index(0, 3), "False"));
    editor.DBNavigator->BtnClick(TDBNavigator::nbInsert);
    QVERIFY(model->setData(model->index(2, 0), "192.0.2.3"));
    editor.DBNavigator->BtnClick(TDBNavigator::nbPost);
    QVERIFY2(m_world->boxes.isEmpty(), qPrintable(m_world->boxes.join('|')));

    QStringList walked;
    for (tPrIP.Next(); !tPrIP.Eof(); tPrIP.Next())
        walked << tPrIP.FieldByName("Desc").AsString();
    walked.prepend("A");
    QCOMPARE(walked, (QStringList{"A", "B"}));
    tPrIP.Close();

    tPrIP.Open();
    QCOMPARE(tPrIP.RecordCount(), 3);
    tPrIP.First();
    QCOMPARE(tPrIP.FieldByName("Activo").AsBoolean(), false);
    tPrIP.Next();
    QCOMPARE(tPrIP.FieldByName("Desc").AsString(), QStringLiteral("B nuevo"));
}

void TestEditors::pointWebPage_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("url"); // empty: nothing is opened
    QTest::newRow("IPv4") << "192.0.2.50"
                          << "http://192.0.2.50/";
    QTest::newRow("blanks around") << " 192.0.2.50  "
                                   << "http://192.0.2.50/";
    QTest::newRow("IPv6 in brackets") << "[2001:db8::7]"
                                      << "http://[2001:db8::7]/";
    QTest::newRow("IPv6 bare") << "2001:db8::7"
                               << "http://[2001:db8::7]/";
    QTest::newRow("host name") << "punto-3.example.lan"
                               << "http://punto-3.example.lan/";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("another scheme") << "file:///etc/passwd"
                                    << "";
    QTest::newRow("script scheme") << "javascript:alert(1)"
                                   << "";
    QTest::newRow("path") << "192.0.2.50/../admin"
                          << "";
    QTest::newRow("user info") << "admin@192.0.2.50"
                               << "";
    QTest::newRow("port") << "192.0.2.50:8080"
                          << "";
    QTest::newRow("command") << "192.0.2.50; rm -rf ~"
                             << "";
    QTest::newRow("address out of range") << "256.1.1.1"
                                          << "";
    QTest::newRow("three parts") << "192.0.2"
                                 << "";
    QTest::newRow("brackets around IPv4") << "[192.0.2.50]"
                                          << "";
    QTest::newRow("hyphen at label end") << "punto-.lan"
                                         << "";
    QTest::newRow("very long") << QString(300, 'a') << "";
}

void TestEditors::pointWebPage() {
    QFETCH(QString, ip);
    QFETCH(QString, url);
    const QUrl page = ::pointWebPage(ip);
    QCOMPARE(page.isValid() ? page.toString() : QString(), url);
}

void TestEditors::configurarOpensTheCurrentPointsPage() {
    m_world->addPoints({{"192.0.2.50", "A", "L1", true}, {"file:///etc/passwd", "B", "L2", true}});
    TfPrIP editor;
    editor.Table1.DatabaseName = "KIVO_1";
    QList<QUrl> opened;
    editor.OpenAddress = [&](const QUrl& url) { opened << url; };
    showWindow(editor);
    editor.bConfigurar->click();
    editor.DBNavigator->BtnClick(TDBNavigator::nbNext);
    editor.bConfigurar->click();
    QCOMPARE(opened, QList<QUrl>{QUrl("http://192.0.2.50/")});
    QVERIFY(m_world->boxes.isEmpty());
}

// An event text longer than its column is read whole in the tip of any cell
// of its row; the editors have no such tips.
void TestEditors::logViewerTipIsTheWholeRow() {
    const QString text = QStringLiteral("ALERTA: el punto 127.0.0.9 (Andén sur, Loc AS) no "
                                        "responde: 3 fallo(s) seguidos: FTP: tiempo agotado");
    m_world->addLog(text);
    TfLog viewer;
    viewer.Table1.DatabaseName = "KIVO_1";
    showWindow(viewer);
    const QAbstractItemModel* model = viewer.DBGrid1->model();
    QCOMPARE(model->index(0, 0).data(Qt::ToolTipRole).toString(),
             "Fecha: 08/12/2026\nHora: 10:27:45\nArchivo: " + text + "\nNroRegAsist: ");
    viewer.reject();
    TfPrIP points;
    points.Table1.DatabaseName = "KIVO_1";
    m_world->addPoints({{"192.0.2.50", "Portón principal", "P01", true}});
    showWindow(points);
    QVERIFY(points.DBGrid1->model()->index(0, 1).data(Qt::ToolTipRole).isNull());
    points.reject();
}

void TestEditors::logViewerSelectsTheNewestAndDoesNotRefresh() {
    for (const char* text : {"uno", "dos", "tres"})
        m_world->addLog(text);
    TfLog viewer;
    viewer.Table1.DatabaseName = "KIVO_1";
    showWindow(viewer);
    QCOMPARE(viewer.DBGrid1->currentIndex().row(), 2);
    QVERIFY(viewer.DBGrid1->selectionModel()->isRowSelected(2, {}));
    QVERIFY(!(viewer.DBGrid1->model()->flags(viewer.DBGrid1->model()->index(0, 0)) &
              Qt::ItemIsEditable));

    m_world->addLog("cuatro"); // a cycle's entry while the viewer is open
    viewer.DBNavigator1->BtnClick(TDBNavigator::nbFirst);
    viewer.DBNavigator1->BtnClick(TDBNavigator::nbLast);
    QCOMPARE(viewer.DBGrid1->model()->rowCount(), 3);
    QVERIFY(m_world->boxes.isEmpty());
    viewer.reject();

    showWindow(viewer);
    QAbstractItemModel* model = viewer.DBGrid1->model();
    QCOMPARE(model->rowCount(), 4);
    QCOMPARE(viewer.DBGrid1->currentIndex().row(), 3);
    QCOMPARE(model->data(model->index(3, 2)).toString(), QStringLiteral("cuatro"));
    QCOMPARE(model->data(model->index(3, 0)).toString(), QStringLiteral("08/12/2026"));
    QCOMPARE(model->data(model->index(3, 1)).toString(), QStringLiteral("10:27:45"));
}

void TestEditors::aboutBox() {
    TFAboutBox box;
    QList<QUrl> opened;
    box.OpenAddress = [&](const QUrl& url) { opened << url; };
    box.setDBinfo("DB info: KIVO_1, JUXRegs.\rPar Cap: 750");
    QCOMPARE(box.lDBinfo->text(), QStringLiteral("DB info: KIVO_1, JUXRegs.\nPar Cap: 750"));
    QCOMPARE(box.windowTitle(), QStringLiteral("Acerca de..."));
    showWindow(box);
    QTest::mouseClick(box.Label7, Qt::LeftButton);
    QTest::mouseClick(box.Label8, Qt::LeftButton);
    QCOMPARE(opened, (QList<QUrl>{QUrl("mailto:" + TFAboutBox::kMail),
                                  QUrl("http://" + TFAboutBox::kWeb)}));
    box.sbCerrar->click();
    QVERIFY(!box.isVisible());
    QCOMPARE(box.result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestEditors)
#include "tst_editors.moc"
