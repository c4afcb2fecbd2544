// kivo-import: carries an existing station over. Reads the old station's six
// table files into the local alias's database, and merges the station's keys
// of a Windows registry export into the registry file. Given both, it does
// both or neither: the settings are checked before the tables are written,
// and merged only when the tables were.
#include "CodePage.h"
#include "Importer.h"
#include "LegacyTable.h"
#include "RegistryMerge.h"
#include "platform/Registry.h"
#include "store/Aliases.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2 };

// A mistake on the command line: said on standard error, exit status 2.
struct UsageError {
    QString message;
};

// "lectura=850" -> ("lectura.DB", "850"); "personal.SERV_TAXI=X" -> ("personal.DBF",
// "SERV_TAXI", "X").
QString tableOrFail(const QString& name, const QString& option) {
    const QString table = stationTableOf(name);
    if (table.isEmpty())
        throw UsageError{QStringLiteral("--%1: '%2' is none of the station's tables (%3)")
                             .arg(option, name, stationTableFiles().join(QStringLiteral(", ")))};
    return table;
}

void readColumnChoice(const QString& text, const QString& option, ImportOptions& options) {
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    const QString target = text.left(equals);
    const qsizetype dot = target.lastIndexOf(QLatin1Char('.'));
    if (equals < 0 || dot <= 0 || dot == target.size() - 1)
        throw UsageError{
            QStringLiteral("--%1 takes TABLE.COLUMN=%2, not '%3'")
                .arg(option, option == QLatin1String("map") ? "FILECOLUMN" : "VALUE", text)};
    const QString table = tableOrFail(target.left(dot), option);
    const QString column = target.mid(dot + 1);
    const QString value = text.mid(equals + 1);
    ColumnChoices& choices = options.columns[table];
    if (option == QLatin1String("map")) {
        if (value.isEmpty())
            throw UsageError{QStringLiteral("--map %1: the file's column is missing").arg(text)};
        choices.map.insert(column, value);
    } else {
        choices.defaults.insert(column, value);
    }
}

ImportOptions importOptions(const QCommandLineParser& args) {
    ImportOptions options;
    options.directory = args.positionalArguments().value(0);
    options.replace = args.isSet(QStringLiteral("replace"));
    options.keepCollected = args.isSet(QStringLiteral("keep-collected"));
    options.dryRun = args.isSet(QStringLiteral("dry-run"));
    options.alias = args.isSet(QStringLiteral("alias")) ? args.value(QStringLiteral("alias"))
                                                        : readAliasFile().local;
    for (const QString& text : args.values(QStringLiteral("codepage"))) {
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        if (equals <= 0)
            throw UsageError{
                QStringLiteral("--codepage takes TABLE=CODEPAGE (lectura=850), not '%1'")
                    .arg(text)};
        const QString table = tableOrFail(text.left(equals), QStringLiteral("codepage"));
        try {
            codecForChoice(text.mid(equals + 1));
        } catch (const ELegacyTable& error) {
            throw UsageError{QStringLiteral("--codepage %1: %2").arg(text, error.message())};
        }
        options.codepages.insert(table, text.mid(equals + 1));
    }
    for (const QString& text : args.values(QStringLiteral("map")))
        readColumnChoice(text, QStringLiteral("map"), options);
    for (const QString& text : args.values(QStringLiteral("default")))
        readColumnChoice(text, QStringLiteral("default"), options);
    return options;
}

bool importTables(const ImportOptions& options, QTextStream& out) {
    out << (options.dryRun ? "Checking (dry run) " : "Importing ") << options.directory
        << " into the local alias " << options.alias << Qt::endl;
    ImportOptions told = options;
    told.progress = [](const QString& line) {
        QTextStream(stderr) << "kivo-import: " << line << Qt::endl;
    };
    const ImportReport report = importStation(told);
    out << report.text() << Qt::flush;
    return report.ok();
}

bool mergeRegistry(const QString& exportPath, bool write, QTextStream& out) {
    const QString target = TRegistry::defaultPath();
    if (write)
        out << "Merging " << exportPath << " into " << target << Qt::endl;
    else
        out << "Checking " << exportPath << " against " << target << " (nothing is written)"
            << Qt::endl;
    RegistryMergeOptions options;
    options.serverAlias = readAliasFile().server;
    options.write = write;
    const RegistryMergeReport report = mergeRegistryExport(exportPath, target, options);
    out << report.text() << Qt::flush;
    return report.ok();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kivo-import"));
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral(
        "Carries an existing station over: its six table files (lectura.DB, lecturaBAK.db, "
        "log.DB, confRegIP.db, personal.DBF, ceco.DBF) into the local alias's database, all "
        "tables or none, and the station's keys of a Windows registry export into the "
        "registry file. Given both, it does both or neither."));
    args.addHelpOption();
    args.addPositionalArgument(QStringLiteral("directory"),
                               QStringLiteral("The old station's directory."),
                               QStringLiteral("[directory]"));
    args.addOption({QStringLiteral("dry-run"),
                    QStringLiteral("Read and check everything, say what would be imported, "
                                   "replaced and merged, and write nothing.")});
    args.addOption({QStringLiteral("replace"),
                    QStringLiteral("Empty tables that already hold rows, in the same "
                                   "transaction, after keeping a copy of the database.")});
    args.addOption({QStringLiteral("keep-collected"),
                    QStringLiteral("lectura, lecturaBAK and log keep the rows they hold; the "
                                   "old station's rows are added to them.")});
    args.addOption(
        {QStringLiteral("alias"),
         QStringLiteral("The local alias (default: line 1 of dbAlias.txt, else KIVO_1)."),
         QStringLiteral("name")});
    args.addOption({QStringLiteral("codepage"),
                    QStringLiteral("Read a table's text in this code page, whatever the file "
                                   "names (lectura=850, personal=1252). Repeatable."),
                    QStringLiteral("table=codepage")});
    args.addOption({QStringLiteral("map"),
                    QStringLiteral("Read a column the station reads from a column of another "
                                   "name in the file (personal.SERV_TAXI=SERVTAXI). Repeatable."),
                    QStringLiteral("table.column=filecolumn")});
    args.addOption({QStringLiteral("default"),
                    QStringLiteral("Give every row this value of a column the file lacks "
                                   "(personal.SERV_TAXI=T; empty: an empty field). Repeatable."),
                    QStringLiteral("table.column=value")});
    args.addOption({QStringLiteral("registry"),
                    QStringLiteral("A Windows registry export (.reg) to merge."),
                    QStringLiteral("file")});

    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!args.parse(app.arguments())) {
        err << "kivo-import: " << args.errorText() << "\n\n" << args.helpText();
        return Usage;
    }
    if (args.isSet(QStringLiteral("help")))
        args.showHelp(Success);
    const bool tables = !args.positionalArguments().isEmpty();
    const bool registry = args.isSet(QStringLiteral("registry"));
    if ((!tables && !registry) || args.positionalArguments().size() > 1) {
        err << args.helpText();
        return Usage;
    }
    ImportOptions options;
    try {
        options = importOptions(args);
    } catch (const UsageError& error) {
        err << "kivo-import: " << error.message << '\n';
        return Usage;
    }
    const QString exportPath = args.value(QStringLiteral("registry"));
    if (!tables)
        return mergeRegistry(exportPath, !options.dryRun, out) ? Success : Failure;
    // Both or neither: settings that cannot be merged stop the import before
    // it writes, and a refused import merges nothing.
    if (registry && !mergeRegistry(exportPath, false, out)) {
        out << "Nothing was imported: the settings cannot be merged, and the tables and the "
               "settings go over together or not at all."
            << Qt::endl;
        return Failure;
    }
    if (!importTables(options, out)) {
        if (registry)
            out << "registry: not merged either, since the tables were not imported." << Qt::endl;
        return Failure;
    }
    if (registry && !options.dryRun && !mergeRegistry(exportPath, true, out)) {
        out << "The tables WERE imported, but the settings were not merged: mend what is said "
               "above and run kivo-import --registry "
            << exportPath << " alone." << Qt::endl;
        return Failure;
    }
    return Success;
}
