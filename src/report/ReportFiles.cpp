#include "report/ReportFiles.h"

#include "report/PagePainter.h"
#include "report/SeparatedValues.h"

#include <QFileInfo>
#include <algorithm>

namespace {

constexpr double kCharacterMm = 2.0;

bool isText(const PlacedItem& item) {
    return item.kind == ElementKind::Label || item.kind == ElementKind::Field ||
           item.kind == ElementKind::PageNumber || item.kind == ElementKind::PageOfPages ||
           item.kind == ElementKind::Count || item.kind == ElementKind::Sum;
}

// The band's texts from left to right.
std::vector<const PlacedItem*> textsOf(const PlacedBand& band) {
    std::vector<const PlacedItem*> texts;
    for (const PlacedItem& item : band.items)
        if (isText(item) && !item.text.isEmpty())
            texts.push_back(&item);
    std::stable_sort(texts.begin(), texts.end(), [](const PlacedItem* a, const PlacedItem* b) {
        return a->rect.left() < b->rect.left();
    });
    return texts;
}

int columnOf(double mm) {
    return qRound(mm / kCharacterMm);
}

// The text cut to the item's width and aligned within it.
QString placedText(const PlacedItem& item) {
    const int width = std::max(1, columnOf(item.rect.width()));
    const QString text = item.text.left(width);
    switch (item.align) {
    case TextAlign::Right:
        return text.rightJustified(width);
    case TextAlign::Centre:
        return QString((width - text.size()) / 2, QLatin1Char(' ')) + text;
    default:
        return text;
    }
}

QString textLine(const PlacedBand& band) {
    QString line;
    for (const PlacedItem* item : textsOf(band)) {
        const int column = columnOf(item->rect.left() - band.rect.left());
        if (line.size() < column)
            line += QString(column - line.size(), QLatin1Char(' '));
        else if (!line.isEmpty())
            line += QLatin1Char(' ');
        line += placedText(*item);
    }
    while (line.endsWith(QLatin1Char(' ')))
        line.chop(1);
    return line;
}

QString mm(double value) {
    return QString::number(value, 'f', 2) + QStringLiteral("mm");
}

QString htmlItem(const PlacedItem& item) {
    static const char* const aligns[] = {"left", "center", "right"};
    return QStringLiteral("<div style=\"position:absolute;left:%1;top:%2;width:%3;height:%4;"
                          "overflow:hidden;text-align:%5;font:%6%7%8pt '%9'\">%10</div>")
        .arg(mm(item.rect.left()), mm(item.rect.top()), mm(item.rect.width()),
             mm(item.rect.height()), QLatin1String(aligns[int(item.align)]),
             item.font.italic ? QStringLiteral("italic ") : QString(),
             item.font.bold ? QStringLiteral("bold ") : QString(),
             QString::number(item.font.pointSize), item.font.family, item.text.toHtmlEscaped());
}

QString htmlShape(const PlacedItem& item) {
    const QString style = item.kind == ElementKind::TopLine
                              ? QStringLiteral("border-top:0.2mm solid black")
                              : QStringLiteral("background:") + item.fill.name();
    return QStringLiteral("<div style=\"position:absolute;left:%1;top:%2;width:%3;height:%4;%5\">"
                          "</div>")
        .arg(mm(item.rect.left()), mm(item.rect.top()), mm(item.rect.width()),
             mm(item.rect.height()), style);
}

} // namespace

ReportFileFormat reportFormatForPath(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("txt"))
        return ReportFileFormat::Text;
    if (suffix == QLatin1String("csv"))
        return ReportFileFormat::Csv;
    if (suffix == QLatin1String("htm") || suffix == QLatin1String("html"))
        return ReportFileFormat::Html;
    return ReportFileFormat::Pdf;
}

QStringList reportTextLines(const ReportPages& pages) {
    QStringList lines;
    for (const ReportPage& page : pages.pages) {
        if (!lines.isEmpty())
            lines << QString();
        for (const PlacedBand& band : page.bands)
            if (!textsOf(band).empty())
                lines << textLine(band);
    }
    return lines;
}

QStringList reportCsvLines(const ReportPages& pages) {
    const QString comma = QStringLiteral(",");
    QStringList lines;
    for (const ReportPage& page : pages.pages)
        for (const PlacedBand& band : page.bands) {
            QStringList values;
            for (const PlacedItem* item : textsOf(band))
                values << quotedField(item->text, comma);
            if (!values.isEmpty())
                lines << values.join(comma);
        }
    return lines;
}

QStringList reportHtmlLines(const ReportPages& pages) {
    QStringList lines{
        QStringLiteral("<!DOCTYPE html>"),
        QStringLiteral("<html><head>"),
        QStringLiteral("<meta charset=\"windows-1252\">"),
        QStringLiteral("<title>%1</title>").arg(pages.title.toHtmlEscaped()),
        QStringLiteral("<style>.page{position:relative;margin:5mm auto;border:1px solid #999;"
                       "width:%1;height:%2}</style>")
            .arg(mm(pages.pageSize.width()), mm(pages.pageSize.height())),
        QStringLiteral("</head><body>")};
    for (const ReportPage& page : pages.pages) {
        lines << QStringLiteral("<div class=\"page\">");
        for (const PlacedBand& band : page.bands)
            for (const PlacedItem& item : band.items)
                lines << (isText(item) ? htmlItem(item) : htmlShape(item));
        lines << QStringLiteral("</div>");
    }
    lines << QStringLiteral("</body></html>");
    return lines;
}

void saveReport(const ReportPages& pages, const QString& path, ReportFileFormat format) {
    switch (format) {
    case ReportFileFormat::Pdf:
        savePdf(pages, path);
        return;
    case ReportFileFormat::Text:
        writeTextFile(path, reportTextLines(pages));
        return;
    case ReportFileFormat::Csv:
        writeTextFile(path, reportCsvLines(pages));
        return;
    case ReportFileFormat::Html:
        writeTextFile(path, reportHtmlLines(pages));
        return;
    }
}
