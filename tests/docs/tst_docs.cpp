// The documents stay true: every fenced block of the README and of
// docs/operations/ whose info string is "sh run" runs, as written, in a world
// of its own with the built programs on the PATH; every relative link and
// picture of the README and docs/ resolves, to a heading too when it names one.
#include "MarkdownParts.h"
#include "StationEnvironment.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <unistd.h>

namespace {

constexpr int kBlockMs = 120000;

QString sourceDir() {
    return qEnvironmentVariable("KIVO_SOURCE_DIR", QStringLiteral(KIVO_SOURCE_DIR));
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// README.md and every Markdown file under docs/, relative to the source folder.
QStringList documents() {
    QStringList files{QStringLiteral("README.md")};
    QDirIterator it(sourceDir() + QStringLiteral("/docs"), {QStringLiteral("*.md")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(sourceDir()).relativeFilePath(it.next());
    files.sort();
    return files;
}

bool runsItsBlocks(const QString& document) {
    return document == QLatin1String("README.md") ||
           document.startsWith(QLatin1String("docs/operations/"));
}

struct BlockResult {
    bool finished = false;
    int exitCode = -1;
    QString output;
};

// The block as a script of `sh -e` in the world's working directory, in a
// session of its own, so that whatever it leaves running is ended with it.
BlockResult runBlock(const QString& body) {
    StationWorld world;
    QDir(world.path("")).mkpath(QStringLiteral("home"));
    QFile script(world.path("block.sh"));
    if (!script.open(QIODevice::WriteOnly) || script.write(body.toUtf8()) < 0)
        return {};
    script.close();
    QProcessEnvironment env = world.environment();
    env.insert(QStringLiteral("HOME"), world.path("home"));
    env.insert(QStringLiteral("PATH"), QStringLiteral(KIVO_DOC_PATH ":") + env.value("PATH"));
    for (const char* name : {"KIVO_FTP_PORT", "KIVO_PARAM_PORT", "NOTIFY_SOCKET", "WATCHDOG_USEC"})
        env.remove(QString::fromLatin1(name));
    QProcess sh;
    sh.setProcessEnvironment(env);
    sh.setWorkingDirectory(world.path("work"));
    sh.setProcessChannelMode(QProcess::MergedChannels);
    sh.setChildProcessModifier([] { ::setsid(); });
    sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-e"), script.fileName()});
    const qint64 session = sh.processId();
    BlockResult result;
    result.finished = sh.waitForFinished(kBlockMs);
    if (session > 0)
        ::kill(-pid_t(session), SIGKILL);
    sh.waitForFinished(5000);
    result.exitCode = sh.exitStatus() == QProcess::NormalExit ? sh.exitCode() : -1;
    result.output = QString::fromUtf8(sh.readAll());
    return result;
}

bool hasScheme(const QString& target) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(target).hasMatch();
}

} // namespace

class TestDocs : public QObject {
    Q_OBJECT
private slots:
    void everyCheckHasSomethingToCheck();
    void shellBlocksRun_data();
    void shellBlocksRun();
    void relativeLinksResolve_data();
    void relativeLinksResolve();
    void guidePdfShowsEveryPicture();
};

// A check that finds nothing would pass for ever: the README and the
// operations guides hold runnable blocks, and the documents link each other.
void TestDocs::everyCheckHasSomethingToCheck() {
    int blocks = 0;
    int links = 0;
    for (const QString& document : documents()) {
        const QString text = readText(sourceDir() + QLatin1Char('/') + document);
        for (const FencedBlock& block : fencedBlocks(text))
            blocks += runsItsBlocks(document) && block.info == QLatin1String("sh run");
        links += int(linkTargets(text).size());
    }
    QVERIFY2(blocks >= 5, qPrintable(QStringLiteral("%1 blocks to run").arg(blocks)));
    QVERIFY2(links >= 20, qPrintable(QStringLiteral("%1 links").arg(links)));
}

void TestDocs::shellBlocksRun_data() {
    QTest::addColumn<QString>("body");
    for (const QString& document : documents()) {
        if (!runsItsBlocks(document))
            continue;
        for (const FencedBlock& block : fencedBlocks(readText(sourceDir() + '/' + document)))
            if (block.info == QLatin1String("sh run"))
                QTest::addRow("%s:%d", qPrintable(document), block.line) << block.body;
    }
}

void TestDocs::shellBlocksRun() {
    QFETCH(QString, body);
    const BlockResult result = runBlock(body);
    QVERIFY2(result.finished, qPrintable(QStringLiteral("still running after %1 s:\n%2")
                                             .arg(kBlockMs / 1000)
                                             .arg(result.output)));
    QVERIFY2(
        result.exitCode == 0,
        qPrintable(QStringLiteral("exit status %1:\n%2").arg(result.exitCode).arg(result.output)));
}

void TestDocs::relativeLinksResolve_data() {
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("target");
    for (const QString& document : documents())
        for (const LinkTarget& link : linkTargets(readText(sourceDir() + '/' + document)))
            if (!hasScheme(link.target))
                QTest::addRow("%s:%d %s", qPrintable(document), link.line, qPrintable(link.target))
                    << document << link.target;
}

void TestDocs::relativeLinksResolve() {
    QFETCH(QString, document);
    QFETCH(QString, target);
    const qsizetype hash = target.indexOf(QLatin1Char('#'));
    const QString path = QUrl::fromPercentEncoding(target.left(hash).toUtf8());
    const QString anchor = hash < 0 ? QString() : target.mid(hash + 1);
    const QString from = sourceDir() + QLatin1Char('/') + document;
    const QString resolved = path.isEmpty() ? from : QFileInfo(from).dir().filePath(path);
    QVERIFY2(QFileInfo::exists(resolved), qPrintable(resolved + QStringLiteral(" does not exist")));
    if (anchor.isEmpty() || !resolved.endsWith(QLatin1String(".md")))
        return;
    const QStringList anchors = headingAnchors(readText(resolved));
    QVERIFY2(anchors.contains(QUrl::fromPercentEncoding(anchor.toUtf8())),
             qPrintable(QStringLiteral("no heading \"%1\" in %2; it has: %3")
                            .arg(anchor, path.isEmpty() ? document : path,
                                 anchors.join(QStringLiteral(", ")))));
}

// The operator's guide as ./run --docs makes it, from another folder than the
// guide's: every picture it names is in the PDF.
void TestDocs::guidePdfShowsEveryPicture() {
    const QString guide = sourceDir() + QStringLiteral("/docs/guia-del-operador.md");
    int pictures = 0;
    for (const LinkTarget& link : linkTargets(readText(guide)))
        pictures += link.target.endsWith(QLatin1String(".png"));
    QVERIFY(pictures > 0);
    QTemporaryDir elsewhere;
    QProcess tool;
    tool.setWorkingDirectory(elsewhere.path());
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral(KIVO_DOCPDF), {guide, elsewhere.filePath(QStringLiteral("g.pdf"))});
    QVERIFY(tool.waitForFinished(kBlockMs));
    QCOMPARE(tool.exitCode(), 0);
    QProcess list;
    list.start(QStringLiteral("pdfimages"),
               {QStringLiteral("-list"), elsewhere.filePath(QStringLiteral("g.pdf"))});
    QVERIFY2(list.waitForFinished(kBlockMs), "pdfimages (poppler-utils) did not run");
    // Two heading lines, then one line per picture drawn.
    const QList<QByteArray> lines = list.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(int(lines.size()) - 2, pictures);
}

QTEST_GUILESS_MAIN(TestDocs)
#include "tst_docs.moc"
