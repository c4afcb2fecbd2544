#include "web/WebHtml.h"

namespace {

struct MenuEntry {
    const char* path;
    QString text;
};

const QList<MenuEntry> kMenu = {{"/", QStringLiteral("Estado de los puntos")},
                                {"/registros", QStringLiteral("Registros de taxi")},
                                {"/resumen", QStringLiteral("Resumen por centro de costo")},
                                {"/operaciones", QStringLiteral("Registro de operaciones")}};

QString menu(const PageFrame& frame) {
    QString html = QStringLiteral("<nav>");
    for (const MenuEntry& entry : kMenu)
        html += QStringLiteral("<a href=\"%1\"%2>%3</a>")
                    .arg(QLatin1String(entry.path),
                         frame.path == QLatin1String(entry.path)
                             ? QStringLiteral(" aria-current=\"page\"")
                             : QString(),
                         escaped(entry.text));
    if (!frame.csrf.isEmpty())
        html += QStringLiteral("<form method=\"post\" action=\"/salir\">"
                               "<input type=\"hidden\" name=\"csrf\" value=\"%1\">"
                               "<button type=\"submit\">Salir</button></form>")
                    .arg(escaped(frame.csrf));
    return html + QStringLiteral("</nav>");
}

QString rowHtml(const HtmlTable& table, int row) {
    QString html = table.rowClasses.isEmpty()
                       ? QStringLiteral("<tr>")
                       : QStringLiteral("<tr class=\"%1\">").arg(table.rowClasses.value(row));
    const QStringList& cells = table.rows[row];
    for (int column = 0; column < cells.size(); ++column)
        html += (table.rightAligned.contains(column) ? QStringLiteral("<td class=\"n\">")
                                                     : QStringLiteral("<td>")) +
                escaped(cells[column]) + QStringLiteral("</td>");
    return html + QStringLiteral("</tr>");
}

} // namespace

QString escaped(const QString& text) {
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

QByteArray htmlPage(const PageFrame& frame, const QString& content) {
    QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                       "<title>%1 - KIVO ip (taxi)</title>"
                       "<link rel=\"stylesheet\" href=\"/estilo.css\">%2</head><body>"
                       "<header><span class=\"marca\">KIVO ip (taxi)</span>%3</header>"
                       "<main><h1>%1</h1>")
            .arg(escaped(frame.title),
                 frame.script ? QStringLiteral("<script src=\"/estado.js\" defer></script>")
                              : QString(),
                 frame.menu ? menu(frame) : QString());
    html += content + QStringLiteral("</main></body></html>\n");
    return html.toUtf8();
}

QString htmlRows(const HtmlTable& table) {
    QString html;
    for (int row = 0; row < table.rows.size(); ++row)
        html += rowHtml(table, row);
    return html;
}

QString htmlTable(const HtmlTable& table) {
    QString html = table.id.isEmpty()
                       ? QStringLiteral("<table><thead><tr>")
                       : QStringLiteral("<table id=\"%1\"><thead><tr>").arg(table.id);
    for (const QString& heading : table.headings)
        html += QStringLiteral("<th>") + escaped(heading) + QStringLiteral("</th>");
    return html + QStringLiteral("</tr></thead><tbody>") + htmlRows(table) +
           QStringLiteral("</tbody></table>");
}

QString notice(const QString& text, bool error) {
    return QStringLiteral("<p class=\"%1\">%2</p>")
        .arg(error ? QStringLiteral("error") : QStringLiteral("aviso"), escaped(text));
}

// The state colours are the health window's: green, amber, red, grey.
const QByteArray& styleSheet() {
    static const QByteArray css =
        R"(body{font-family:"DejaVu Sans",Arial,sans-serif;font-size:14px;margin:0;color:#222}
header{background:#1f3b5a;color:#fff;padding:6px 12px;display:flex;flex-wrap:wrap;align-items:center;gap:16px}
.marca{font-weight:bold}
nav{display:flex;flex-wrap:wrap;gap:12px;align-items:center}
nav a{color:#fff;text-decoration:none;padding:4px 6px}
nav a[aria-current=page]{border-bottom:2px solid #fff}
nav form{margin:0}
main{padding:8px 16px}
h1{font-size:20px}
table{border-collapse:collapse;margin:8px 0}
th,td{border:1px solid #bbb;padding:3px 6px;text-align:left;vertical-align:top}
th{background:#e8e8e8}
td.n{text-align:right;white-space:nowrap}
tr.total td{font-weight:bold}
tr.correcto td{background:#c6efce}
tr.fallando td{background:#ffe08a}
tr.caido td{background:#f49a9a}
tr.inactivo td{background:#d0d0d0}
form.filtro{display:flex;flex-wrap:wrap;gap:10px;align-items:end;margin:8px 0}
form.filtro label,form.entrada label{display:flex;flex-direction:column;font-size:13px}
form.entrada{display:flex;flex-direction:column;gap:10px;max-width:260px}
.error{color:#a00000;font-weight:bold}
.aviso{color:#444}
.paginas{display:flex;gap:12px;align-items:center}
.descargas a{margin-right:12px}
)";
    return css;
}

// Asks for the points' state every few seconds and, when it has changed,
// puts the new rows in place: the page stays usable without it.
const QByteArray& pointsScript() {
    static const QByteArray js = R"('use strict';
(function () {
  var table = document.getElementById('puntos');
  var summary = document.getElementById('resumen-puntos');
  if (!table || !summary) return;
  var version = table.getAttribute('data-version');
  function ask() {
    fetch('/estado.json', {credentials: 'same-origin'})
      .then(function (r) { if (!r.ok) throw new Error(r.status); return r.json(); })
      .then(function (s) {
        if (String(s.version) !== version) {
          version = String(s.version);
          table.setAttribute('data-version', version);
          table.tBodies[0].innerHTML = s.filas;
          summary.textContent = s.resumen;
        }
      })
      .catch(function () {})
      .then(function () { setTimeout(ask, 2000); });
  }
  setTimeout(ask, 2000);
})();
)";
    return js;
}
