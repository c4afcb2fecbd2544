// kivo-import: carries an existing station over. Reads the old station's six
// table files into the local alias's database, and merges the station's keys
// of a Windows registry export into the registry file.
#include "Importer.h"
#include "RegistryMerge.h"
#include "platform/Registry.h"
#include "store/Aliases.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2 };

int importTables(const QCommandLineParser& args, QTextStream& out) {
    ImportOptions options;
    options.directory = args.positionalArguments().value(0);
    options.replace = args.isSet(QStringLiteral("replace"));
    options.alias = args.isSet(QStringLiteral("alias")) ? args.value(QStringLiteral("alias"))
                                                        : readAliasFile().local;
    out << "Importing " << options.directory << " into the local alias " << options.alias
        << Qt::endl;
    const ImportReport report = importStation(options);
    out << report.text() << Qt::flush;
    return report.ok() ? Success : Failure;
}

int mergeRegistry(const QCommandLineParser& args, QTextStream& out) {
    const QString target = TRegistry::defaultPath();
    out << "Merging " << args.value(QStringLiteral("registry")) << " into " << target << Qt::endl;
    const RegistryMergeReport report =
        mergeRegistryExport(args.value(QStringLiteral("registry")), target);
    out << report.text() << Qt::flush;
    return report.ok() ? Success : Failure;
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
        "registry file."));
    args.addHelpOption();
    args.addPositionalArgument(QStringLiteral("directory"),
                               QStringLiteral("The old station's directory."),
                               QStringLiteral("[directory]"));
    args.addOption(
        {QStringLiteral("replace"),
         QStringLiteral("Empty tables that already hold rows, in the same transaction.")});
    args.addOption(
        {QStringLiteral("alias"),
         QStringLiteral("The local alias (default: line 1 of dbAlias.txt, else KIVO_1)."),
         QStringLiteral("name")});
    args.addOption({QStringLiteral("registry"),
                    QStringLiteral("A Windows registry export (.reg) to merge."),
                    QStringLiteral("file")});
    args.process(app);

    QTextStream out(stdout);
    const bool tables = !args.positionalArguments().isEmpty();
    const bool registry = args.isSet(QStringLiteral("registry"));
    if ((!tables && !registry) || args.positionalArguments().size() > 1) {
        QTextStream(stderr) << args.helpText();
        return Usage;
    }
    int status = Success;
    if (tables)
        status = importTables(args, out);
    if (registry)
        status = std::max(status, mergeRegistry(args, out));
    return status;
}
