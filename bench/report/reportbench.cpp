// Figures of the ticket report, the export and the summary by cost centre: a
// report of 10,000 tickets (pages built, PDF saved), an export of 100,000 rows
// (text file and workbook), and the summary of 100,000 tickets in 400 cost
// centres (pages built, PDF and workbook saved), on an embedded SQLite server
// table in a temporary directory.
//   reportbench [--keep DIR]   keeps report.pdf, export.csv, export.xlsx,
//                              resumen.pdf and resumen.xlsx in DIR
#include "platform/DateTime.h"
#include "report/BillingSummary.h"
#include "report/DataSetRows.h"
#include "report/PageBuilder.h"
#include "report/PagePainter.h"
#include "report/TicketExport.h"
#include "report/TicketReport.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

namespace {

const QString kAlias = QStringLiteral("JUXRegs");

// Rows written in one transaction straight through SQL: filling the table is
// not what is measured.
void fillTickets(TSession& session, int count, int cecos = 9) {
    QSqlDatabase db = session.connectionFor(kAlias);
    db.transaction();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO tickettaxis VALUES (?,?,?,?,?,?,?,?,?,?)"));
    for (int i = 0; i < count; ++i) {
        const TDateTime fecha = encodeDate(2024, 3, 1) + (i % 16) + (i % 86400) / 86400.0;
        const QVariantList values{
            QStringLiteral("P%1").arg(i % 12),
            1000 + i % 500,
            QStringLiteral("Nombre%1 Pérez Ñandú").arg(i % 500),
            toQDateTime(fecha).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
            (i % 650) / 10.0,
            300 + i % 7,
            40 + i % cecos,
            5000 + i % 500,
            i,
            0};
        for (int v = 0; v < values.size(); ++v)
            insert.bindValue(v, values[v]);
        insert.exec();
    }
    db.commit();
}

void clearTickets(TSession& session) {
    QSqlQuery(session.connectionFor(kAlias)).exec(QStringLiteral("DELETE FROM tickettaxis"));
}

double seconds(QElapsedTimer& timer) {
    const double s = timer.nsecsElapsed() / 1e9;
    timer.restart();
    return s;
}

TQuery openMarch() {
    TQuery query;
    query.DatabaseName = kAlias;
    query.SQL = ticketRangeSql(QDate(2024, 3, 1), QDate(2024, 3, 31));
    query.Open();
    return query;
}

void summaryFigures(const QString& out) {
    const QDate from(2024, 3, 1), to(2024, 3, 31);
    QElapsedTimer timer;
    timer.start();
    TQuery query;
    query.DatabaseName = kAlias;
    query.SQL = billingSummarySql(from, to);
    query.Open();
    const ReportRows rows = billingSummaryRows(query);
    query.Close();
    const double open = seconds(timer);
    const ReportPages pages = buildPages(billingSummaryDefinition(from, to), rows);
    const double build = seconds(timer);
    savePdf(pages, out + QStringLiteral("/resumen.pdf"));
    const double pdf = seconds(timer);
    TQuery tickets = openMarch();
    const double ticketQuery = seconds(timer);
    writeBillingWorkbook(out + QStringLiteral("/resumen.xlsx"), rows, tickets, from, to);
    const double workbook = seconds(timer);
    std::printf("summary of %zu tickets: query and text forms %.3f s, %zu pages built in %.3f s, "
                "PDF saved in %.3f s (%lld bytes), query of the tickets %.3f s, workbook with "
                "the tickets saved in %.3f s (%lld bytes)\n",
                rows.rows.size(), open, pages.pages.size(), build, pdf,
                QFileInfo(out + QStringLiteral("/resumen.pdf")).size(), ticketQuery, workbook,
                QFileInfo(out + QStringLiteral("/resumen.xlsx")).size());
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    QString out = dir.path();
    if (argc == 3 && QByteArray(argv[1]) == "--keep")
        out = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    QDir().mkpath(out);
    qputenv("KIVO_ALIASES", dir.filePath(QStringLiteral("aliases.ini")).toLocal8Bit());
    qputenv("KIVO_REGISTRY", dir.filePath(QStringLiteral("registry.reg")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    TSession session;
    session.DeclareAlias(kAlias, AliasKind::Server);

    fillTickets(session, 10000);
    QElapsedTimer timer;
    timer.start();
    TQuery report = openMarch();
    const ReportRows rows = rowsOf(report);
    const double query = seconds(timer);
    const ReportPages pages = buildPages(ticketReportDefinition(), rows);
    const double build = seconds(timer);
    savePdf(pages, out + QStringLiteral("/report.pdf"));
    const double pdf = seconds(timer);
    std::printf("report of %zu tickets: query and text forms %.3f s, %zu pages built in %.3f s, "
                "PDF saved in %.3f s (%lld bytes)\n",
                rows.rows.size(), query, pages.pages.size(), build, pdf,
                QFileInfo(out + QStringLiteral("/report.pdf")).size());

    clearTickets(session);
    fillTickets(session, 100000);
    timer.restart();
    TQuery exportQuery = openMarch();
    const double open = seconds(timer);
    writeTicketExport(out + QStringLiteral("/export.csv"), exportQuery, QDate(2024, 3, 1),
                      QDate(2024, 3, 31), QStringLiteral(";"));
    const double text = seconds(timer);
    writeTicketWorkbook(out + QStringLiteral("/export.xlsx"), exportQuery, QDate(2024, 3, 1),
                        QDate(2024, 3, 31));
    const double workbook = seconds(timer);
    std::printf("export of %d rows: query %.3f s, text file %.3f s (%lld bytes), "
                "workbook %.3f s (%lld bytes)\n",
                exportQuery.RecordCount(), open, text,
                QFileInfo(out + QStringLiteral("/export.csv")).size(), workbook,
                QFileInfo(out + QStringLiteral("/export.xlsx")).size());

    clearTickets(session);
    fillTickets(session, 100000, 400);
    summaryFigures(out);
    return 0;
}
