// kivo-docpdf DOCUMENT.md OUTPUT.pdf: a Markdown document as an A4 PDF through
// Qt's own Markdown reader (QTextDocument) and PDF writer (QPdfWriter), with
// page numbers. Pictures are read relative to the document and narrowed to
// the page's width. Runs without a display (QT_QPA_PLATFORM=offscreen).
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextTable>
#include <cstdio>

namespace {

// The text width of a page in the document's units: A4 less the 2 cm margins
// that QTextDocument::print() gives a document it paginates itself.
constexpr double kPictureWidth = 600;

QImage picture(QTextDocument& doc, const QString& name) {
    return doc.resource(QTextDocument::ImageResource, QUrl(name)).value<QImage>();
}

// Every picture wider than the text is scaled down to it, keeping its shape.
// Returns the names of the pictures that could not be read.
QStringList fitPictures(QTextDocument& doc) {
    QStringList missing;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            if (!format.isValid())
                continue;
            const QImage image = picture(doc, format.name());
            if (image.isNull()) {
                missing << format.name();
                continue;
            }
            // The full address: print() lays out a copy of the document,
            // which would look for a relative name in the current folder.
            format.setName(doc.baseUrl().resolved(QUrl(format.name())).toString());
            const double scale = std::min(1.0, kPictureWidth / image.width());
            format.setWidth(image.width() * scale);
            format.setHeight(image.height() * scale);
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
    return missing;
}

// Room around headings and paragraphs, and tables with thin rules, padded
// cells and the text's full width.
void setSpacing(QTextDocument& doc) {
    QTextCursor cursor(&doc);
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        const bool heading = format.headingLevel() > 0;
        format.setTopMargin(heading ? 14 : format.topMargin());
        format.setBottomMargin(heading ? 6 : std::max(format.bottomMargin(), 4.0));
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
        if (QTextTable* table = cursor.currentTable()) {
            QTextTableFormat look = table->format();
            look.setBorder(0.5);
            look.setBorderBrush(QColor(Qt::gray));
            look.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            look.setCellPadding(3);
            look.setCellSpacing(0);
            look.setWidth(QTextLength(QTextLength::PercentageLength, 100));
            table->setFormat(look);
        }
    }
}

QString firstHeading(const QString& markdown) {
    for (const QString& line : markdown.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("# ")))
            return line.mid(2).trimmed();
    return {};
}

int fail(const QString& text) {
    std::fprintf(stderr, "kivo-docpdf: %s\n", qPrintable(text));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A Markdown document as an A4 PDF."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("document"), QStringLiteral("The Markdown file."));
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("The PDF to write."));
    parser.process(app);
    if (parser.positionalArguments().size() != 2)
        parser.showHelp(2);
    const QString source = parser.positionalArguments().at(0);
    const QString target = parser.positionalArguments().at(1);

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(source, in.errorString()));
    const QString markdown = QString::fromUtf8(in.readAll());
    QTextDocument doc;
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(source).absolutePath() + QLatin1Char('/')));
    doc.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    setSpacing(doc);
    if (const QStringList missing = fitPictures(doc); !missing.isEmpty())
        return fail(
            QStringLiteral("pictures not found: %1").arg(missing.join(QStringLiteral(", "))));

    QPdfWriter pdf(target);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setResolution(300);
    pdf.setTitle(firstHeading(markdown));
    pdf.setCreator(QStringLiteral("kivo-docpdf"));
    doc.print(&pdf);
    if (!QFileInfo(target).isFile() || QFileInfo(target).size() == 0)
        return fail(QStringLiteral("cannot write %1").arg(target));
    return 0;
}
