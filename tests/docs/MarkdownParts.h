#pragma once

// The parts of a Markdown document that the documents' check reads: fenced
// blocks with their info string, the targets of links and pictures, and the
// anchors its headings get (as GitHub names them).

#include <QList>
#include <QString>
#include <QStringList>

struct FencedBlock {
    QString info; // "sh run", "ini", ...
    QString body; // without the fences, the fence's indentation taken off
    int line = 0; // of the opening fence, from 1
};

struct LinkTarget {
    QString target; // as written: "docs/testing.md#sanitizers", "img/fLog.png"
    int line = 0;
};

QList<FencedBlock> fencedBlocks(const QString& markdown);

// Links and pictures outside code: inline ones and reference definitions.
QList<LinkTarget> linkTargets(const QString& markdown);

// "## Each record exactly once" gives "each-record-exactly-once"; a repeated
// heading gets "-1", "-2" ...
QStringList headingAnchors(const QString& markdown);
