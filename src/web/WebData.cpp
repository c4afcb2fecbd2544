#include "web/WebData.h"

#include "report/BillingSummary.h"
#include "report/PageBuilder.h"
#include "report/ReportFiles.h"
#include "report/SeparatedValues.h"
#include "report/TicketExport.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {

const QStringList kTicketHeadings = {"Origen", "Legajo", "Nombres", "Fecha", "Importe",
                                     "Cuenta", "CECO",   "Tarjeta", "Ticket"};
const QStringList kLogHeadings = {"Fecha", "Hora", "Archivo", "NroRegAsist"};

// The calling thread's connections, read-only while the request lasts and
// closed when it ends.
class ReadOnlyConnections {
public:
    ReadOnlyConnections() = default;
    ReadOnlyConnections(const ReadOnlyConnections&) = delete;
    ReadOnlyConnections& operator=(const ReadOnlyConnections&) = delete;
    ~ReadOnlyConnections() { TSession::current().closeThreadConnections(); }

    void use(const QString& alias) {
        TSession& session = TSession::current();
        QSqlDatabase db = session.connectionFor(alias);
        const char* statement = nullptr;
        switch (session.driverOf(alias)) {
        case AliasDefinition::Driver::Sqlite:
            statement = "PRAGMA query_only = ON";
            break;
        case AliasDefinition::Driver::Postgres:
            statement = "SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY";
            break;
        default:
            return; // an ODBC server: its login's rights decide
        }
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(statement)))
            throw EDatabaseError(QStringLiteral("Cannot make '%1' read-only: %2")
                                     .arg(alias, query.lastError().text()));
    }
};

// Closes a data set however the reading ends.
struct ClosesAtEnd {
    TDataSet& dataSet;
    ~ClosesAtEnd() { dataSet.Close(); }
};

// The page asked for, within the pages there are.
void paginate(TablePage& table, int page) {
    table.pages = std::max(1, (table.total + kPageRows - 1) / kPageRows);
    table.page = std::clamp(page, 1, table.pages);
}

bool matches(const std::optional<qint64>& wanted, TField field) {
    return !wanted || (!field.IsNull() && qint64(field.AsFloat()) == *wanted);
}

int columnOf(TDataSet& rows, const QString& name) {
    for (int column = 0; column < rows.FieldCount(); ++column)
        if (rows.Fields(column).FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return column;
    throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
}

QStringList rowTexts(TDataSet& rows, int columns) {
    QStringList values;
    for (int column = 0; column < columns; ++column)
        values << rows.Fields(column).AsString();
    return values;
}

} // namespace

TablePage readTickets(const QString& serverAlias, const TicketFilter& filter) {
    ReadOnlyConnections connections;
    connections.use(serverAlias);
    TQuery query;
    query.DatabaseName = serverAlias;
    query.SQL = ticketRangeSql(filter.from, filter.to);
    query.Open();
    ClosesAtEnd closes{query};
    TablePage table;
    table.headings = kTicketHeadings;
    const int columns = std::min<int>(int(kTicketHeadings.size()), query.FieldCount());
    QList<QStringList> kept;
    for (query.First(); !query.Eof(); query.Next())
        if (matches(filter.legajo, query.FieldByName(QStringLiteral("LEGAJO"))) &&
            matches(filter.ceco, query.FieldByName(QStringLiteral("CECO"))))
            kept << rowTexts(query, columns);
    table.total = int(kept.size());
    paginate(table, filter.page);
    table.rows = kept.mid((table.page - 1) * kPageRows, kPageRows);
    return table;
}

TablePage readLog(const QString& localAlias, int page) {
    ReadOnlyConnections connections;
    connections.use(localAlias);
    TTable log;
    log.DatabaseName = localAlias;
    log.TableName = QStringLiteral("log.DB");
    log.Open();
    ClosesAtEnd closes{log};
    TablePage table;
    table.headings = kLogHeadings;
    table.total = log.RecordCount();
    paginate(table, page);
    // Rows are appended as events happen: the newest is the last.
    QList<int> columns;
    for (const QString& name : kLogHeadings)
        columns << columnOf(log, name);
    const int first = table.total - (table.page - 1) * kPageRows;
    for (int row = first - 1; row >= std::max(0, first - kPageRows); --row) {
        QStringList values;
        for (const int column : columns)
            values << log.FieldAt(row, column).AsString();
        table.rows << values;
    }
    return table;
}

ReportRows readSummary(const QString& serverAlias, const QDate& from, const QDate& to) {
    ReadOnlyConnections connections;
    connections.use(serverAlias);
    TQuery query;
    query.DatabaseName = serverAlias;
    query.SQL = billingSummarySql(from, to);
    query.Open();
    ClosesAtEnd closes{query};
    return billingSummaryRows(query);
}

QByteArray summaryFile(SummaryFile kind, const QString& serverAlias, const QDate& from,
                       const QDate& to) {
    const ReportRows rows = readSummary(serverAlias, from, to);
    QTemporaryDir folder;
    if (!folder.isValid())
        throw EWriteError(QStringLiteral("No temporary folder: ") + folder.errorString());
    const QString path = folder.filePath(QStringLiteral("resumen"));
    switch (kind) {
    case SummaryFile::Pdf:
        saveReport(buildPages(billingSummaryDefinition(from, to), rows), path,
                   ReportFileFormat::Pdf);
        break;
    case SummaryFile::SeparatedValues:
        writeBillingSeparatedValues(path, rows, from, to);
        break;
    case SummaryFile::Workbook: {
        ReadOnlyConnections connections;
        connections.use(serverAlias);
        TQuery tickets;
        tickets.DatabaseName = serverAlias;
        tickets.SQL = ticketRangeSql(from, to);
        tickets.Open();
        ClosesAtEnd closes{tickets};
        writeBillingWorkbook(path, rows, tickets, from, to);
        break;
    }
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EWriteError(file.errorString());
    return file.readAll();
}
