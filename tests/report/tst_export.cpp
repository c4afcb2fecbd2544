// The export writers: quoting, the bytes of the export file, the workbook's
// typed cells, and files that cannot be written completely.
#include "ErrorOf.h"
#include "FileSizeLimit.h"
#include "ReportFixture.h"
#include "report/SeparatedValues.h"
#include "report/TicketExport.h"
#include "report/Workbook.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

namespace {

const QDate kFrom(2024, 3, 1), kTo(2024, 3, 17);

// Two tickets of March 2024: a name with ";" at midnight, a quoted name at
// the last second of the range.
QList<TicketRow> marchRows() {
    return {{"P1", 42, QStringLiteral("Ñandú; Pérez"), encodeDate(2024, 3, 1), 12.5, 3, 4, 5, 6},
            {"P2", 7, QStringLiteral("Juan \"Tito\""), encodeDateTime({2024, 3, 17, 23, 59, 59, 0}),
             7, 0, 0, 0, 1000000}};
}

// The text of a cell of the first sheet's XML: the whole <c> element.

} // namespace

class TestExport : public QObject {
    Q_OBJECT
private slots:
    void init() { m_world = std::make_unique<StoreWorld>(); }
    void cleanup() { m_world.reset(); }

    void quotedField_data();
    void quotedField();
    void exportBytes_data();
    void exportBytes();
    void workbookHasTypedCells();
    void workbookTextEscapes_data();
    void workbookTextEscapes();
    void incompleteFileIsRemoved_data();
    void incompleteFileIsRemoved();

private:
    TQuery marchQuery() {
        appendTicketRows(QStringLiteral("JUXRegs"), marchRows());
        TQuery query;
        query.DatabaseName = QStringLiteral("JUXRegs");
        query.SQL = ticketRangeSql(kFrom, kTo);
        query.Open();
        return query;
    }

    std::unique_ptr<StoreWorld> m_world;
};

void TestExport::quotedField_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "Pérez"
                           << ";"
                           << "Pérez";
    QTest::newRow("holds the separator") << "a;b"
                                         << ";"
                                         << "\"a;b\"";
    QTest::newRow("inner quotes doubled") << "Juan \"Tito\""
                                          << ";"
                                          << "\"Juan \"\"Tito\"\"\"";
    QTest::newRow("line break") << "a\r\nb"
                                << ";"
                                << "\"a\r\nb\"";
    QTest::newRow("another separator's character") << "a;b"
                                                   << ","
                                                   << "a;b";
    QTest::newRow("empty separator") << "a;b"
                                     << ""
                                     << "a;b";
    QTest::newRow("empty value") << ""
                                 << ";"
                                 << "";
}

void TestExport::quotedField() {
    QFETCH(QString, value);
    QFETCH(QString, separator);
    QFETCH(QString, expected);
    QCOMPARE(::quotedField(value, separator), expected);
}

void TestExport::exportBytes_data() {
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("decimal");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray head = "JUX S.A. - Control de Taxis\r\nREPORTE CONTROL TAXIS\r\n";
    QTest::newRow("semicolon, decimal comma")
        << ";"
        << ","
        << head + "DESDE;01/03/2024\r\nHASTA;17/03/2024\r\n"
                  "Origen;Legajo;Nombres;Fecha;Importe;Cuenta;CECO;Tarjeta;Ticket;\r\n"
                  "P1;42;\"\xD1"
                  "and\xFA; P\xE9rez\";01/03/2024;12,5;3;4;5;6;\r\n"
                  "P2;7;\"Juan \"\"Tito\"\"\";17/03/2024 23:59:59;7;0;0;0;1000000;\r\n";
    QTest::newRow("empty separator")
        << ""
        << ","
        << head + "DESDE01/03/2024\r\nHASTA17/03/2024\r\n"
                  "OrigenLegajoNombresFechaImporteCuentaCECOTarjetaTicket\r\n"
                  "P142\xD1"
                  "and\xFA; P\xE9rez01/03/202412,53456\r\n"
                  "P27\"Juan \"\"Tito\"\"\"17/03/2024 23:59:5970001000000\r\n";
    QTest::newRow("comma separator quotes the decimal comma")
        << ","
        << ","
        << head + "DESDE,01/03/2024\r\nHASTA,17/03/2024\r\n"
                  "Origen,Legajo,Nombres,Fecha,Importe,Cuenta,CECO,Tarjeta,Ticket,\r\n"
                  "P1,42,\xD1"
                  "and\xFA; P\xE9rez,01/03/2024,\"12,5\",3,4,5,6,\r\n"
                  "P2,7,\"Juan \"\"Tito\"\"\",17/03/2024 23:59:59,7,0,0,0,1000000,\r\n";
    QTest::newRow("slash separator quotes the dates")
        << "/"
        << "."
        << head + "DESDE/\"01/03/2024\"\r\nHASTA/\"17/03/2024\"\r\n"
                  "Origen/Legajo/Nombres/Fecha/Importe/Cuenta/CECO/Tarjeta/Ticket/\r\n"
                  "P1/42/\xD1"
                  "and\xFA; P\xE9rez/\"01/03/2024\"/12.5/3/4/5/6/\r\n"
                  "P2/7/\"Juan \"\"Tito\"\"\"/\"17/03/2024 23:59:59\"/7/0/0/0/1000000/\r\n";
}

void TestExport::exportBytes() {
    QFETCH(QString, separator);
    QFETCH(QString, decimal);
    QFETCH(QByteArray, expected);
    setSpanishRegion(decimal);
    TQuery query = marchQuery();
    const QString path = m_world->env.path(QStringLiteral("export.csv"));
    writeTicketExport(path, query, kFrom, kTo, separator);
    QCOMPARE(readFileBytes(path), expected);
}

void TestExport::workbookHasTypedCells() {
    setSpanishRegion();
    TQuery query = marchQuery();
    const QString path = m_world->env.path(QStringLiteral("export.xlsx"));
    writeTicketWorkbook(path, query, kFrom, kTo);

    const QString listing = QString::fromUtf8(toolOutput("unzip", {"-l", path}));
    QVERIFY(listing.contains("[Content_Types].xml"));
    QVERIFY(listing.contains("xl/workbook.xml"));
    const QString sheet =
        QString::fromUtf8(toolOutput("unzip", {"-p", path, "xl/worksheets/sheet1.xml"}));
    const QString styles = QString::fromUtf8(toolOutput("unzip", {"-p", path, "xl/styles.xml"}));
    QVERIFY(styles.contains("dd/mm/yyyy"));

    // Texts are strings; 1 March 2024 is day 45352 on the spreadsheet's scale.
    QVERIFY(cellXml(sheet, "A1").contains("JUX S.A. - Control de Taxis"));
    QVERIFY(cellXml(sheet, "A3").contains("DESDE"));
    QVERIFY(cellXml(sheet, "B3").contains(" s=\""));
    QVERIFY(cellXml(sheet, "B3").contains("<v>45352</v>"));
    QVERIFY(cellXml(sheet, "B4").contains("<v>45368</v>"));
    QVERIFY(cellXml(sheet, "I5").contains("Ticket"));
    QVERIFY(cellXml(sheet, "C6").contains("Ñandú; Pérez"));
    const QString legajo = cellXml(sheet, "B6"), amount = cellXml(sheet, "E6");
    QVERIFY2(legajo.contains("<v>42</v>") && !legajo.contains(" t=\""), qPrintable(legajo));
    QVERIFY2(amount.contains("<v>12.5</v>") && !amount.contains(" t=\""), qPrintable(amount));
    QVERIFY(cellXml(sheet, "D6").contains("<v>45352</v>"));
    // 23:59:59 is 86399/86400 of a day.
    const QString lastSecond = cellXml(sheet, "D7");
    const QRegularExpressionMatch value =
        QRegularExpression(QStringLiteral("<v>([0-9.]+)</v>")).match(lastSecond);
    QVERIFY2(value.hasMatch() && lastSecond.contains(" s=\""), qPrintable(lastSecond));
    QVERIFY(qAbs(value.captured(1).toDouble() - (45368 + 86399.0 / 86400)) < 1e-9);
    QVERIFY(cellXml(sheet, "I7").contains("<v>1000000</v>"));
}

// Found by fuzz_workbook: a literal "_x0041_" was read back as "A" (also when
// the library's escape of a control character supplied its closing "_"), and
// U+FFFE made the sheet's XML unreadable.
void TestExport::workbookTextEscapes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("inSheet");
    QTest::newRow("escape-like text") << QStringLiteral("a_x0041_b") << "a_x005F_x0041_b";
    QTest::newRow("underscore alone") << QStringLiteral("a_x_b") << "a_x_b";
    QTest::newRow("U+FFFE") << QStringLiteral("a\uFFFEb") << "a_xFFFE_b";
    QTest::newRow("escape-like text before a control character") << QStringLiteral("a_x0041\x11"
                                                                                   "b")
                                                                 << "a_x005F_x0041_x0011_b";
    QTest::newRow("control characters") << QStringLiteral("a\rb\x1f") << "a_x000D_b_x001F_";
}

void TestExport::workbookTextEscapes() {
    QFETCH(QString, text);
    QFETCH(QString, inSheet);
    const QString path = m_world->env.path(QStringLiteral("escapes.xlsx"));
    {
        TWorkbookWriter writer(path, QStringLiteral("Reporte"));
        writer.addRow({WorkbookCell::ofText(text)});
        writer.commit();
    }
    const QString sheet =
        QString::fromUtf8(toolOutput("unzip", {"-p", path, "xl/worksheets/sheet1.xml"}));
    QVERIFY2(cellXml(sheet, "A1").contains(inSheet), qPrintable(cellXml(sheet, "A1")));
}

void TestExport::incompleteFileIsRemoved_data() {
    QTest::addColumn<bool>("workbook");
    QTest::addColumn<bool>("oldFile");
    QTest::newRow("text file over an old export") << false << true;
    QTest::newRow("text file, none before") << false << false;
    QTest::newRow("workbook over an old export") << true << true;
    QTest::newRow("workbook, none before") << true << false;
}

void TestExport::incompleteFileIsRemoved() {
    QFETCH(bool, workbook);
    QFETCH(bool, oldFile);
    setSpanishRegion();
    QList<TicketRow> rows;
    // About 5 KB of text, more than the files may hold.
    for (int i = 0; i < 60; ++i)
        rows << TicketRow{"P", i, QStringLiteral("Nombre largo que llena el archivo %1").arg(i),
                          encodeDate(2024, 3, 5), 1.5};
    appendTicketRows(QStringLiteral("JUXRegs"), rows);
    TQuery query;
    query.DatabaseName = QStringLiteral("JUXRegs");
    query.SQL = ticketRangeSql(kFrom, kTo);
    query.Open();

    QDir dir(m_world->env.path(QStringLiteral("out")));
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    const QString path = dir.filePath(workbook ? "export.xlsx" : "export.csv");
    if (oldFile)
        m_world->env.writeFile(QStringLiteral("out/") + QFileInfo(path).fileName(), "old export");
    QString error;
    {
        FileSizeLimit limit(2048);
        error = errorOf([&] {
            if (workbook)
                writeTicketWorkbook(path, query, kFrom, kTo);
            else
                writeTicketExport(path, query, kFrom, kTo, ";");
        });
    }
    QVERIFY2(error.startsWith("No se pudo escribir el archivo \"" + path + "\""),
             qPrintable(error));
    const QStringList left = dir.entryList(QDir::Files | QDir::Hidden);
    if (oldFile) {
        QCOMPARE(left, QStringList{QFileInfo(path).fileName()});
        QCOMPARE(readFileBytes(path), QByteArray("old export"));
    } else {
        QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
    }
}

QObject* newExportTests() {
    return new TestExport;
}

#include "tst_export.moc"
