#include "MarkdownParts.h"

#include <QRegularExpression>

namespace {

struct Fence {
    int indent = 0;
    QString marker; // the run of backticks or tildes that opened it
};

// The fence a line opens or closes, if any.
bool fenceOf(const QString& line, Fence& fence, QString& info) {
    static const QRegularExpression opening(QStringLiteral("^( {0,12})(`{3,}|~{3,})(.*)$"));
    const QRegularExpressionMatch m = opening.match(line);
    if (!m.hasMatch())
        return false;
    fence = {int(m.capturedLength(1)), m.captured(2)};
    info = m.captured(3).trimmed();
    return true;
}

// Each line of the text outside fenced blocks, with its number; inline code
// spans blanked out when asked.
QList<std::pair<int, QString>> proseLines(const QString& markdown, bool blankCode) {
    static const QRegularExpression code(QStringLiteral("`[^`]*`"));
    QList<std::pair<int, QString>> prose;
    const QStringList lines = markdown.split(QLatin1Char('\n'));
    Fence open;
    bool inFence = false;
    for (int i = 0; i < lines.size(); ++i) {
        Fence fence;
        QString info;
        if (fenceOf(lines[i], fence, info)) {
            if (!inFence || (fence.marker.startsWith(open.marker) && info.isEmpty())) {
                inFence = !inFence;
                open = fence;
                continue;
            }
        }
        if (!inFence)
            prose.append({i + 1, blankCode ? QString(lines[i]).replace(code, QStringLiteral("``"))
                                           : lines[i]});
    }
    return prose;
}

QString dedent(const QString& line, int indent) {
    int cut = 0;
    while (cut < indent && cut < line.size() && line[cut] == QLatin1Char(' '))
        ++cut;
    return line.mid(cut);
}

} // namespace

QList<FencedBlock> fencedBlocks(const QString& markdown) {
    QList<FencedBlock> blocks;
    const QStringList lines = markdown.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        Fence open;
        FencedBlock block;
        if (!fenceOf(lines[i], open, block.info))
            continue;
        block.line = i + 1;
        QStringList body;
        for (++i; i < lines.size(); ++i) {
            Fence close;
            QString info;
            if (fenceOf(lines[i], close, info) && close.marker.startsWith(open.marker) &&
                info.isEmpty())
                break;
            body << dedent(lines[i], open.indent);
        }
        block.body = body.join(QLatin1Char('\n')) + QLatin1Char('\n');
        blocks << block;
    }
    return blocks;
}

QList<LinkTarget> linkTargets(const QString& markdown) {
    static const QRegularExpression inlineLink(
        QStringLiteral(R"(!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\))"));
    static const QRegularExpression definition(QStringLiteral(R"(^\s{0,3}\[[^\]]+\]:\s*(\S+))"));
    QList<LinkTarget> targets;
    for (const auto& [number, line] : proseLines(markdown, true)) {
        for (const QRegularExpressionMatch& m : inlineLink.globalMatch(line))
            targets << LinkTarget{m.captured(1), number};
        if (const QRegularExpressionMatch m = definition.match(line); m.hasMatch())
            targets << LinkTarget{m.captured(1), number};
    }
    return targets;
}

QStringList headingAnchors(const QString& markdown) {
    static const QRegularExpression heading(QStringLiteral("^#{1,6}\\s+(.*?)\\s*#*\\s*$"));
    static const QRegularExpression dropped(QStringLiteral("[^\\p{L}\\p{N}\\s_-]"));
    QStringList anchors;
    for (const auto& [number, line] : proseLines(markdown, false)) {
        const QRegularExpressionMatch m = heading.match(line);
        if (!m.hasMatch())
            continue;
        QString anchor = m.captured(1).toLower().remove(dropped);
        anchor.replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString base = anchor;
        for (int n = 1; anchors.contains(anchor); ++n)
            anchor = base + QLatin1Char('-') + QString::number(n);
        anchors << anchor;
    }
    return anchors;
}
