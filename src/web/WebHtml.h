#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The pieces every page of the office's site is made of: HTML in UTF-8,
// every value escaped, one stylesheet and one script of the site's own.

// Text as HTML text or attribute value.
QString escaped(const QString& text);

// The page: its title, the menu (the current entry marked), the content and,
// when a CSRF token is given, the "Salir" button.
struct PageFrame {
    QString title;
    QString path; // the menu entry that is current
    QString csrf; // empty: no "Salir"
    bool script = false;
    bool menu = true;
};
QByteArray htmlPage(const PageFrame& frame, const QString& content);

// A table: its headings and rows of texts (escaped here); each row may carry
// a class.
struct HtmlTable {
    QStringList headings;
    QList<QStringList> rows;
    QStringList rowClasses;  // empty or one per row
    QList<int> rightAligned; // columns of numbers
    QString id;
};
QString htmlTable(const HtmlTable& table);
QString htmlRows(const HtmlTable& table); // the rows alone, for the live refresh

// A message box in the page (class "aviso" or "error").
QString notice(const QString& text, bool error = false);

// The site's stylesheet and the points page's script.
const QByteArray& styleSheet();
const QByteArray& pointsScript();
