#include "report/PagePainter.h"

#include "platform/TextCodec.h"
#include "report/SeparatedValues.h"

#include <QPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kLineWidthMm = 0.2;

Qt::Alignment alignmentOf(TextAlign align) {
    switch (align) {
    case TextAlign::Centre:
        return Qt::AlignHCenter | Qt::AlignTop;
    case TextAlign::Right:
        return Qt::AlignRight | Qt::AlignTop;
    default:
        return Qt::AlignLeft | Qt::AlignTop;
    }
}

QFont fontFor(const ReportFont& style, const QPaintDevice& device, double pixelsPerMm) {
    QFont font(style.family);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    // Qt turns points into pixels at the device's logical resolution; the
    // page may be drawn at another one (a zoomed preview).
    font.setPointSizeF(style.pointSize * pixelsPerMm * kMmPerInch / device.logicalDpiY());
    return font;
}

QRectF scaled(const QRectF& mm, double pixelsPerMm) {
    return {mm.x() * pixelsPerMm, mm.y() * pixelsPerMm, mm.width() * pixelsPerMm,
            mm.height() * pixelsPerMm};
}

void paintItem(QPainter& painter, const PlacedItem& item, double pixelsPerMm) {
    const QRectF rect = scaled(item.rect, pixelsPerMm);
    switch (item.kind) {
    case ElementKind::Rectangle:
        painter.fillRect(rect, item.fill);
        break;
    case ElementKind::TopLine:
        painter.setPen(QPen(Qt::black, kLineWidthMm * pixelsPerMm));
        painter.drawLine(rect.topLeft(), rect.topRight());
        break;
    default:
        painter.save();
        painter.setClipRect(rect);
        painter.setPen(Qt::black);
        painter.setFont(fontFor(item.font, *painter.device(), pixelsPerMm));
        painter.drawText(rect, int(alignmentOf(item.align)), item.text);
        painter.restore();
        break;
    }
}

} // namespace

void paintPage(QPainter& painter, const ReportPage& page, double pixelsPerMm) {
    // Shapes first, so that transparent text over a filled rectangle stays visible.
    for (const bool shapes : {true, false})
        for (const PlacedBand& band : page.bands)
            for (const PlacedItem& item : band.items) {
                const bool isShape =
                    item.kind == ElementKind::Rectangle || item.kind == ElementKind::TopLine;
                if (isShape == shapes)
                    paintItem(painter, item, pixelsPerMm);
            }
}

QPageLayout pageLayoutOf(const QSizeF& pageSize) {
    const bool landscape = pageSize.width() > pageSize.height();
    const QPageSize paper(landscape ? pageSize.transposed() : pageSize, QPageSize::Millimeter,
                          QString(), QPageSize::FuzzyOrientationMatch);
    return QPageLayout(paper, landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF(), QPageLayout::Millimeter);
}

void paintPages(QPagedPaintDevice& device, const ReportPages& pages, int from, int to) {
    QPainter painter(&device);
    const double pixelsPerMm = device.logicalDpiX() / kMmPerInch;
    for (int number = from; number <= to && number <= int(pages.pages.size()); ++number) {
        if (number > from)
            device.newPage();
        paintPage(painter, pages.pages[size_t(number - 1)], pixelsPerMm);
    }
}

void savePdf(const ReportPages& pages, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw writeError(path, file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setTitle(pages.title);
        writer.setCreator(QStringLiteral("KIVO ip (taxi)"));
        writer.setResolution(600);
        writer.setPageLayout(pageLayoutOf(pages.pageSize));
        paintPages(writer, pages, 1, int(pages.pages.size()));
    }
    if (!commitSaveFile(file))
        throw writeError(path, file.errorString());
}
