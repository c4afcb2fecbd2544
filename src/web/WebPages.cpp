#include "web/WebPages.h"

#include "platform/Regional.h"
#include "report/BillingSummary.h"
#include "report/RowGroups.h"

#include <QUrlQuery>

namespace {

// The health window's headings, on one line each.
const QStringList kPointHeadings = {
    "Punto",       "Descripción", "Loc",    "Estado",      "Último éxito", "Último fallo",
    "Falla desde", "Motivo",      "Fallos", "Reg. último", "Reg. hoy",     "Próximo intento"};
const QList<int> kPointCounts = {8, 9, 10};

QString when(const QDateTime& t) {
    return t.isValid() ? DateAndTimeToStr(toDateTime(t)) : QString();
}

// The class of a row: the state's word without its accent.
QString stateClass(PointHealthView::State state) {
    return stateWord(state).replace(QChar(u'í'), QLatin1Char('i')).remove(QLatin1Char(' '));
}

HtmlTable pointsTable(const BoardState& board) {
    HtmlTable table{kPointHeadings, {}, {}, kPointCounts, QStringLiteral("puntos")};
    for (const PointHealthView& p : board.points) {
        table.rows << QStringList{p.ip,
                                  p.desc,
                                  p.loc,
                                  stateWord(p.state),
                                  when(p.lastSuccess),
                                  when(p.lastFailure),
                                  when(p.failingSince),
                                  p.failureText,
                                  QString::number(p.failuresInRow),
                                  QString::number(p.recordsLast),
                                  QString::number(p.recordsToday),
                                  p.nextTry};
        table.rowClasses << stateClass(p.state);
    }
    return table;
}

// The health window's line under its table.
QString pointsSummary(const BoardState& board) {
    if (!board.problem.isEmpty())
        return QStringLiteral("ERROR: no se puede leer el estado de los puntos: ") + board.problem;
    int down = 0, failing = 0;
    for (const PointHealthView& p : board.points) {
        down += p.state == PointHealthView::State::Down;
        failing += p.state == PointHealthView::State::Failing;
    }
    return QStringLiteral("%1 punto(s): %2 caído(s), %3 con fallos. Actualizado %4")
        .arg(board.points.size())
        .arg(down)
        .arg(failing)
        .arg(TimeToStr(toDateTime(board.read)));
}

QString isoDate(const QDate& date) {
    return date.toString(Qt::ISODate);
}

QString pageLink(const RangeForm& form, int page, const QString& text) {
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("desde"), isoDate(form.from));
    query.addQueryItem(QStringLiteral("hasta"), isoDate(form.to));
    if (!form.legajo.isEmpty())
        query.addQueryItem(QStringLiteral("legajo"), form.legajo);
    if (!form.ceco.isEmpty())
        query.addQueryItem(QStringLiteral("ceco"), form.ceco);
    query.addQueryItem(QStringLiteral("pagina"), QString::number(page));
    return QStringLiteral("<a href=\"%1?%2\">%3</a>")
        .arg(form.path, escaped(query.toString(QUrl::FullyEncoded)), escaped(text));
}

// "Página N de M (T registros)" between the links to the pages beside it.
QString pager(const RangeForm& form, const TablePage& table) {
    QString html = QStringLiteral("<p class=\"paginas\">");
    if (table.page > 1)
        html += pageLink(form, table.page - 1, QStringLiteral("« Anterior"));
    html += QStringLiteral("<span>Página %1 de %2 (%3 registros)</span>")
                .arg(table.page)
                .arg(table.pages)
                .arg(table.total);
    if (table.page < table.pages)
        html += pageLink(form, table.page + 1, QStringLiteral("Siguiente »"));
    return html + QStringLiteral("</p>");
}

QString summaryCell(const WorkbookCell& cell) {
    switch (cell.type) {
    case WorkbookCell::Type::Amount:
        return scaledNumberText(std::llround(cell.number * 100), 2, true);
    case WorkbookCell::Type::Number:
        return QString::number(qint64(cell.number));
    case WorkbookCell::Type::Text:
        return cell.text;
    default:
        return {};
    }
}

} // namespace

QString pointsContent(const BoardState& board) {
    QString table = htmlTable(pointsTable(board));
    table.replace(QStringLiteral("<table id=\"puntos\">"),
                  QStringLiteral("<table id=\"puntos\" data-version=\"%1\">").arg(board.version));
    return table +
           QStringLiteral("<p id=\"resumen-puntos\">%1</p>").arg(escaped(pointsSummary(board)));
}

QJsonObject pointsUpdate(const BoardState& board) {
    return {{QStringLiteral("version"), QString::number(board.version)},
            {QStringLiteral("filas"), htmlRows(pointsTable(board))},
            {QStringLiteral("resumen"), pointsSummary(board)}};
}

QString rangeForm(const RangeForm& form) {
    QString html = QStringLiteral("<form class=\"filtro\" method=\"get\" action=\"%1\">"
                                  "<label>Desde<input type=\"date\" name=\"desde\" value=\"%2\" "
                                  "required></label>"
                                  "<label>Hasta<input type=\"date\" name=\"hasta\" value=\"%3\" "
                                  "required></label>")
                       .arg(form.path, isoDate(form.from), isoDate(form.to));
    if (form.filters)
        html += QStringLiteral("<label>Legajo<input type=\"text\" inputmode=\"numeric\" "
                               "name=\"legajo\" value=\"%1\" size=\"8\"></label>"
                               "<label>CECO<input type=\"text\" inputmode=\"numeric\" "
                               "name=\"ceco\" value=\"%2\" size=\"8\"></label>")
                    .arg(escaped(form.legajo), escaped(form.ceco));
    return html + QStringLiteral("<button type=\"submit\">Mostrar</button></form>");
}

QString ticketsContent(const RangeForm& form, const TablePage& tickets) {
    HtmlTable table{tickets.headings, tickets.rows, {}, {1, 4, 5, 6, 7, 8}, {}};
    return rangeForm(form) + pager(form, tickets) + htmlTable(table) + pager(form, tickets);
}

QString summaryContent(const RangeForm& form, const ReportRows& rows) {
    const std::vector<TableRow> lines = billingSummaryTable(rows, form.from, form.to);
    // The table's first lines are the file's title and range, the fifth its headings.
    constexpr size_t kHeadings = 4;
    HtmlTable table{{}, {}, {}, {0, 1, 3, 4}, QStringLiteral("resumen")};
    for (const WorkbookCell& cell : lines[kHeadings])
        table.headings << cell.text;
    for (size_t line = kHeadings + 1; line < lines.size(); ++line) {
        QStringList cells;
        for (const WorkbookCell& cell : lines[line])
            cells << summaryCell(cell);
        while (cells.size() < table.headings.size())
            cells << QString();
        table.rows << cells;
        const bool total = lines[line].size() > 2 && lines[line][2].bold;
        table.rowClasses << (total ? QStringLiteral("total") : QStringLiteral("persona"));
    }
    const QString range =
        QStringLiteral("desde=%1&amp;hasta=%2").arg(isoDate(form.from), isoDate(form.to));
    const QString downloads =
        QStringLiteral("<p class=\"descargas\">Descargar: "
                       "<a href=\"/resumen.pdf?%1\">PDF</a>"
                       "<a href=\"/resumen.xlsx?%1\">Libro de Excel</a>"
                       "<a href=\"/resumen.csv?%1\">Valores separados por comas</a></p>")
            .arg(range);
    const QString period =
        QStringLiteral("<p class=\"aviso\">Desde %1 hasta %2</p>")
            .arg(DateToStr(toDateTime(form.from)), DateToStr(toDateTime(form.to)));
    return rangeForm(form) + period + downloads + htmlTable(table);
}

QString logContent(const TablePage& log) {
    QString pages = QStringLiteral("<p class=\"paginas\">");
    if (log.page > 1)
        pages += QStringLiteral("<a href=\"/operaciones?pagina=%1\">« Más recientes</a>")
                     .arg(log.page - 1);
    pages += QStringLiteral("<span>Página %1 de %2 (%3 registros)</span>")
                 .arg(log.page)
                 .arg(log.pages)
                 .arg(log.total);
    if (log.page < log.pages)
        pages += QStringLiteral("<a href=\"/operaciones?pagina=%1\">Más antiguos »</a>")
                     .arg(log.page + 1);
    pages += QStringLiteral("</p>");
    HtmlTable table{log.headings, log.rows, {}, {3}, {}};
    return pages + htmlTable(table) + pages;
}
