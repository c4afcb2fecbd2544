#include "Importer.h"

#include "CodePage.h"
#include "LegacyTable.h"
#include "RowConverter.h"
#include "TableWriter.h"
#include "store/DatabaseError.h"
#include "store/Session.h"
#include "store/SqlDialect.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A large table is told of on standard error every so many rows.
constexpr qint64 kRowsForProgress = 50000;

// One table on its way: its report, and its file being read and converted.
struct PlannedTable {
    TableReport report;
    std::unique_ptr<LegacyReader> reader;
    std::unique_ptr<TableConverter> converter;
};
using Plan = std::vector<PlannedTable>;

// "lectura" for "lectura.DB".
QString baseName(const QString& file) {
    return file.section(QLatin1Char('.'), 0, 0);
}

template <typename T> const T* choiceOf(const QMap<QString, T>& choices, const QString& table) {
    for (auto it = choices.cbegin(); it != choices.cend(); ++it)
        if (baseName(it.key()).compare(baseName(table), Qt::CaseInsensitive) == 0)
            return &it.value();
    return nullptr;
}

const TableDef& schemaOf(const QString& file) {
    const QString name = translateTableName(file, AliasDefinition::Driver::Sqlite);
    for (const TableDef& table : localTables())
        if (table.name.compare(name, Qt::CaseInsensitive) == 0)
            return table;
    throw EDatabaseError(QStringLiteral("no hay una tabla '%1' en el esquema").arg(name));
}

// The files of a table in the directory, names compared without regard to case.
QStringList findFiles(const QDir& directory, const QString& name) {
    QStringList found;
    const QStringList entries = directory.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            found << directory.filePath(entry);
    return found;
}

void tell(const ImportOptions& options, const QString& line) {
    if (options.progress)
        options.progress(line);
}

// Finds the table's file, reads its head and plans its columns; the rows come later.
PlannedTable openTable(const QDir& directory, const QString& name, const ImportOptions& options) {
    PlannedTable planned;
    planned.report.table = name;
    const QStringList files = findFiles(directory, name);
    if (files.isEmpty()) {
        planned.report.notes
            << QStringLiteral("no existe el archivo en %1: se omite").arg(directory.path());
        return planned;
    }
    planned.report.file = files.first();
    if (files.size() > 1) {
        // Which one the old station read depends on its file system: never guess.
        planned.report.errors << QStringLiteral(
                                     "%1 archivos para esta misma tabla: %2; conserve el que usaba "
                                     "la estación anterior y mueva el otro a otra carpeta")
                                     .arg(files.size())
                                     .arg(files.join(QStringLiteral(", ")));
        return planned;
    }
    tell(options, QStringLiteral("%1: leyendo %2 (%3 KB)")
                      .arg(name, planned.report.file)
                      .arg(QFileInfo(planned.report.file).size() / 1024));
    try {
        const QString* chosen = choiceOf(options.codepages, name);
        const QString codec = chosen ? codecForChoice(*chosen) : QString();
        const bool paradox = name.endsWith(QLatin1String(".db"), Qt::CaseInsensitive);
        planned.reader = paradox ? openParadoxTable(planned.report.file, codec)
                                 : openDbfTable(planned.report.file, codec);
        const LegacyTable& head = planned.reader->head();
        planned.report.codec = QStringLiteral("%1 (%2)").arg(head.codec, head.codecOrigin);
        planned.report.notes << head.notes;
        const ColumnChoices* columns = choiceOf(options.columns, name);
        planned.converter = std::make_unique<TableConverter>(head, schemaOf(name),
                                                             columns ? *columns : ColumnChoices{});
        planned.report.errors << planned.converter->errors();
    } catch (const Exception& error) {
        planned.report.errors << error.message();
        planned.reader.reset();
    }
    return planned;
}

bool anyErrors(const Plan& plan) {
    return std::any_of(plan.begin(), plan.end(),
                       [](const PlannedTable& t) { return !t.report.errors.isEmpty(); });
}

// What becomes of the rows a table of the database holds already.
void decideExisting(PlannedTable& table, qint64 existing, const ImportOptions& options) {
    if (existing == 0)
        return;
    if (options.keepCollected && isCollectedTable(table.report.table)) {
        table.report.notes
            << QStringLiteral("se conservan los %1 registros que esta tabla tiene en la base de "
                              "datos; se añaden los de la estación anterior (--keep-collected)")
                   .arg(existing);
        return;
    }
    if (options.replace) {
        table.report.deleting = existing;
        table.report.notes << QStringLiteral("--replace borra los %1 registros que esta tabla "
                                             "tiene ahora en la base de datos")
                                  .arg(existing);
        return;
    }
    table.report.errors
        << QStringLiteral("la tabla ya tiene %1 registros en la base de datos '%2': no se toca "
                          "(--replace la vacía antes%3)")
               .arg(existing)
               .arg(options.alias,
                    isCollectedTable(table.report.table)
                        ? QStringLiteral(
                              "; --keep-collected los conserva y añade los de la estación anterior")
                        : QString());
}

// Reads a table's rows a batch at a time, converts them and, while the run
// writes, writes them. A problem anywhere stops the writing (the transaction
// is rolled back) but not the reading: one run reports every problem.
void streamTable(PlannedTable& table, TableWriter& writer, bool& writing,
                 const ImportOptions& options) {
    TableReport& report = table.report;
    writing = writing && report.errors.isEmpty();
    if (writing && report.deleting > 0) {
        const QString problem = writer.empty(report.table);
        if (!problem.isEmpty()) {
            report.errors << problem;
            writing = false;
        }
    }
    std::vector<LegacyRow> rows;
    std::vector<QVariantList> converted;
    qint64 done = 0;
    try {
        while (table.reader->next(rows)) {
            table.converter->convert(rows, converted);
            writing = writing && !table.converter->anyProblem();
            if (writing) {
                const QString problem =
                    writer.insert(report.table, table.converter->columns(), converted, done);
                if (!problem.isEmpty()) {
                    report.errors << problem;
                    writing = false;
                }
            }
            const qint64 before = done;
            done += qint64(converted.size());
            if (done / kRowsForProgress != before / kRowsForProgress)
                tell(options,
                     QStringLiteral("%1: %2 registros %3")
                         .arg(report.table)
                         .arg(done)
                         .arg(writing ? QStringLiteral("escritos") : QStringLiteral("leídos")));
        }
    } catch (const Exception& error) {
        report.errors << error.message();
    }
    report.read = table.converter->read();
    report.skipped = table.converter->skipped();
    report.imported = int(done);
    report.notes << table.converter->notes() << table.reader->trailingNotes();
    table.reader.reset();
    report.errors << table.converter->problems();
    if (!report.errors.isEmpty() && writer.inTransaction())
        writer.rollback();
    writing = writing && report.errors.isEmpty();
}

// Checks every table against the database first, so that one run reports
// every table that would be refused; then keeps a copy of what --replace
// deletes, and writes all of them or none, a batch of rows at a time.
void writePlan(Plan& plan, const ImportOptions& options, ImportReport& report) {
    TSession session;
    // A protected database gets the station's one password, as in the station.
    session.OnPassword = [](TSession& sender, bool& go) {
        sender.AddPassword(kLocalTablesPassword);
        go = true;
    };
    session.DeclareAlias(options.alias, AliasKind::Local);
    TableWriter writer(session, options.alias);
    for (PlannedTable& table : plan) {
        if (!table.reader || !table.report.errors.isEmpty())
            continue;
        try {
            decideExisting(table, writer.check(table.report.table, table.converter->columns()),
                           options);
        } catch (const EDatabaseError& error) {
            table.report.errors << error.message();
        }
    }
    bool writing = !options.dryRun && !anyErrors(plan);
    if (writing) {
        QStringList deleting;
        for (const PlannedTable& table : plan)
            if (table.report.deleting > 0)
                deleting << table.report.table;
        if (!deleting.isEmpty()) {
            tell(options,
                 QStringLiteral("guardando una copia de la base de datos antes de --replace"));
            report.backup = writer.backup(deleting, options.backupDirectory.isEmpty()
                                                        ? QDir::currentPath()
                                                        : options.backupDirectory);
        }
        writer.begin();
    }
    for (PlannedTable& table : plan)
        if (table.reader && table.converter->errors().isEmpty())
            streamTable(table, writer, writing, options);
    if (!writing)
        return;
    const QString problem = writer.commit();
    if (!problem.isEmpty()) {
        report.errors << problem;
        return;
    }
    report.written = true;
}

} // namespace

const QStringList& stationTableFiles() {
    static const QStringList files = {
        QStringLiteral("lectura.DB"),   QStringLiteral("lecturaBAK.db"),
        QStringLiteral("log.DB"),       QStringLiteral("confRegIP.db"),
        QStringLiteral("personal.DBF"), QStringLiteral("ceco.DBF")};
    return files;
}

QString stationTableOf(const QString& name) {
    for (const QString& file : stationTableFiles())
        if (file.compare(name, Qt::CaseInsensitive) == 0 ||
            baseName(file).compare(name, Qt::CaseInsensitive) == 0)
            return file;
    return {};
}

bool isCollectedTable(const QString& table) {
    const QString base = baseName(table);
    return base.compare(QLatin1String("lectura"), Qt::CaseInsensitive) == 0 ||
           base.compare(QLatin1String("lecturaBAK"), Qt::CaseInsensitive) == 0 ||
           base.compare(QLatin1String("log"), Qt::CaseInsensitive) == 0;
}

ImportReport importStation(const ImportOptions& options) {
    ImportReport report;
    report.dryRun = options.dryRun;
    const QDir directory(options.directory);
    if (!directory.exists()) {
        report.errors << QStringLiteral("la carpeta '%1' no existe").arg(options.directory);
        return report;
    }
    Plan plan;
    for (const QString& name : stationTableFiles())
        plan.push_back(openTable(directory, name, options));
    // Most likely the wrong directory: say so rather than report success.
    if (std::all_of(plan.begin(), plan.end(),
                    [](const PlannedTable& t) { return t.report.file.isEmpty(); })) {
        report.errors << QStringLiteral("ninguna de las tablas de la estación está en '%1'")
                             .arg(options.directory);
        for (const PlannedTable& table : plan)
            report.tables << table.report;
        return report;
    }
    try {
        writePlan(plan, options, report);
    } catch (const Exception& error) {
        report.errors << error.message();
    }
    const bool wouldBeWritten = report.dryRun && report.errors.isEmpty() && !anyErrors(plan);
    for (PlannedTable& table : plan) {
        if (!report.written && !wouldBeWritten)
            table.report.imported = 0;
        report.tables << table.report;
    }
    return report;
}

bool ImportReport::ok() const {
    if (!errors.isEmpty() || !(written || dryRun))
        return false;
    return std::none_of(tables.begin(), tables.end(),
                        [](const TableReport& t) { return !t.errors.isEmpty(); });
}

QString ImportReport::text() const {
    QString out;
    for (const TableReport& table : tables) {
        out += QStringLiteral("%1: %2 registros leídos, %3 %4, %5 omitidos\n")
                   .arg(table.table)
                   .arg(table.read)
                   .arg(table.imported)
                   .arg(dryRun ? QStringLiteral("por importar") : QStringLiteral("importados"))
                   .arg(table.skipped);
        if (!table.file.isEmpty())
            out += QStringLiteral("  archivo: %1\n").arg(table.file);
        if (!table.codec.isEmpty())
            out += QStringLiteral("  página de códigos: %1\n").arg(table.codec);
        for (const QString& note : table.notes)
            out += QStringLiteral("  %1\n").arg(note);
        for (const QString& error : table.errors)
            out += QStringLiteral("  ERROR: %1\n").arg(error);
    }
    for (const QString& error : errors)
        out += QStringLiteral("ERROR: %1\n").arg(error);
    if (!backup.isEmpty())
        out +=
            QStringLiteral("La base de datos tal como estaba antes de --replace se guardó en %1\n")
                .arg(backup);
    if (dryRun)
        out += ok() ? QStringLiteral("Prueba: todas las tablas revisadas; no se escribió nada. Sin "
                                     "--dry-run la importación haría lo indicado arriba.\n")
                    : QStringLiteral("Prueba: la importación fallaría por lo indicado arriba; no "
                                     "se escribió nada.\n");
    else
        out +=
            ok()
                ? QStringLiteral("Importación completa.\n")
                : QStringLiteral("Importación fallida: no se escribió nada en la base de datos.\n");
    return out;
}
