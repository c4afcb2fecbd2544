// kivo-import: carries an existing station over. Reads the old station's six
// table files into the local alias's database, and merges the station's keys
// of a Windows registry export into the registry file. Given both, it does
// both or neither: the settings are checked before the tables are written,
// and merged only when the tables were.
#include "CodePage.h"
#include "Importer.h"
#include "LegacyTable.h"
#include "RegistryMerge.h"
#include "platform/CommandLineHelp.h"
#include "platform/QtSpanish.h"
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
        throw UsageError{
            QStringLiteral("--%1: '%2' no es ninguna de las tablas de la estación (%3)")
                .arg(option, name, stationTableFiles().join(QStringLiteral(", ")))};
    return table;
}

void readColumnChoice(const QString& text, const QString& option, ImportOptions& options) {
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    const QString target = text.left(equals);
    const qsizetype dot = target.lastIndexOf(QLatin1Char('.'));
    if (equals < 0 || dot <= 0 || dot == target.size() - 1)
        throw UsageError{QStringLiteral("--%1 espera TABLA.COLUMNA=%2, no '%3'")
                             .arg(option,
                                  option == QLatin1String("map") ? "COLUMNA_DEL_ARCHIVO" : "VALOR",
                                  text)};
    const QString table = tableOrFail(target.left(dot), option);
    const QString column = target.mid(dot + 1);
    const QString value = text.mid(equals + 1);
    ColumnChoices& choices = options.columns[table];
    if (option == QLatin1String("map")) {
        if (value.isEmpty())
            throw UsageError{QStringLiteral("--map %1: falta la columna del archivo").arg(text)};
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
                QStringLiteral("--codepage espera TABLA=PÁGINA (lectura=850), no '%1'").arg(text)};
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
    out << (options.dryRun ? "Revisando (prueba, sin escribir) la importación de " : "Importando ")
        << options.directory << " en el alias local " << options.alias << Qt::endl;
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
        out << "Combinando " << exportPath << " en " << target << Qt::endl;
    else
        out << "Revisando " << exportPath << " frente a " << target << " (no se escribe nada)"
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
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVO_VERSION));
    loadQtSpanish();
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral(
        "Traslada una estación existente: sus seis archivos de tablas (lectura.DB, lecturaBAK.db, "
        "log.DB, confRegIP.db, personal.DBF, ceco.DBF) a la base de datos del alias local, todas "
        "las tablas o ninguna, y las claves de la estación de una exportación del registro de "
        "Windows al archivo de configuración. Si se dan ambos, hace las dos cosas o ninguna."));
    addInformationOptions(args);
    args.addPositionalArgument(QStringLiteral("carpeta"),
                               QStringLiteral("La carpeta de la estación anterior."),
                               QStringLiteral("[carpeta]"));
    args.addOption({QStringLiteral("dry-run"),
                    QStringLiteral("Lee y revisa todo, dice qué se importaría, reemplazaría y "
                                   "combinaría, y no escribe nada.")});
    args.addOption({QStringLiteral("replace"),
                    QStringLiteral("Vacía las tablas que ya tienen registros, en la misma "
                                   "transacción, tras guardar una copia de la base de datos.")});
    args.addOption({QStringLiteral("keep-collected"),
                    QStringLiteral("lectura, lecturaBAK y log conservan los registros que tienen; "
                                   "se les añaden los de la estación anterior.")});
    args.addOption(
        {QStringLiteral("alias"),
         QStringLiteral("El alias local (por omisión: la línea 1 de dbAlias.txt, si no KIVO_1)."),
         QStringLiteral("nombre")});
    args.addOption(
        {QStringLiteral("codepage"),
         QStringLiteral("Lee el texto de una tabla en esta página de códigos, indique lo que "
                        "indique el archivo (lectura=850, personal=1252). Se puede repetir."),
         QStringLiteral("tabla=página")});
    args.addOption(
        {QStringLiteral("map"),
         QStringLiteral("Lee una columna que la estación lee de una columna de otro nombre en el "
                        "archivo (personal.SERV_TAXI=SERVTAXI). Se puede repetir."),
         QStringLiteral("tabla.columna=columna_del_archivo")});
    args.addOption(
        {QStringLiteral("default"),
         QStringLiteral("Da a todos los registros este valor de una columna que el archivo no "
                        "tiene (personal.SERV_TAXI=T; vacío: un campo vacío). Se puede repetir."),
         QStringLiteral("tabla.columna=valor")});
    args.addOption({QStringLiteral("registry"),
                    QStringLiteral("Una exportación del registro de Windows (.reg) que combinar."),
                    QStringLiteral("archivo")});

    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!args.parse(app.arguments())) {
        err << "kivo-import: " << args.errorText() << "\n\n" << spanishHelpText(args);
        return Usage;
    }
    answerInformationOptions(args);
    const bool tables = !args.positionalArguments().isEmpty();
    const bool registry = args.isSet(QStringLiteral("registry"));
    if ((!tables && !registry) || args.positionalArguments().size() > 1) {
        err << spanishHelpText(args);
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
        out << "No se importó nada: la configuración no se puede combinar, y las tablas y la "
               "configuración pasan juntas o no pasan."
            << Qt::endl;
        return Failure;
    }
    if (!importTables(options, out)) {
        if (registry)
            out << "configuración: tampoco se combinó, ya que las tablas no se importaron."
                << Qt::endl;
        return Failure;
    }
    if (registry && !options.dryRun && !mergeRegistry(exportPath, true, out)) {
        out << "Las tablas SÍ se importaron, pero la configuración no se combinó: corrija lo "
               "indicado arriba y ejecute kivo-import --registry "
            << exportPath << " solo." << Qt::endl;
        return Failure;
    }
    return Success;
}
