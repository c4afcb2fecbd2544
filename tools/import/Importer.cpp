#include "Importer.h"

#include "LegacyTable.h"
#include "RowConverter.h"
#include "TableWriter.h"
#include "store/DatabaseError.h"
#include "store/Session.h"
#include "store/SqlDialect.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Most problems listed per table; the rest are counted.
constexpr int kProblemsShown = 20;

struct PlannedTable {
    TableReport report;
    ConvertedTable rows;
};

const TableDef& schemaOf(const QString& file) {
    const QString name = translateTableName(file, AliasDefinition::Driver::Sqlite);
    for (const TableDef& table : localTables())
        if (table.name.compare(name, Qt::CaseInsensitive) == 0)
            return table;
    throw EDatabaseError(QStringLiteral("no table '%1' in the schema").arg(name));
}

// The file of a table in the directory, names compared without regard to case.
QString findFile(const QDir& directory, const QString& name) {
    const QStringList entries = directory.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return directory.filePath(entry);
    return {};
}

void addProblems(TableReport& report, const QStringList& problems) {
    for (int i = 0; i < problems.size() && i < kProblemsShown; ++i)
        report.errors << problems[i];
    if (problems.size() > kProblemsShown)
        report.errors << QStringLiteral("... and %1 more").arg(problems.size() - kProblemsShown);
}

PlannedTable readTable(const QDir& directory, const QString& name) {
    PlannedTable planned;
    planned.report.table = name;
    planned.report.file = findFile(directory, name);
    if (planned.report.file.isEmpty()) {
        planned.report.notes << QStringLiteral("no such file in %1: skipped").arg(directory.path());
        return planned;
    }
    try {
        const bool paradox = name.endsWith(QLatin1String(".db"), Qt::CaseInsensitive);
        const LegacyTable source =
            paradox ? readParadoxTable(planned.report.file) : readDbfTable(planned.report.file);
        planned.rows = convertTable(source, schemaOf(name));
        planned.report.read = planned.rows.read;
        planned.report.skipped = planned.rows.skipped;
        planned.report.notes << planned.rows.notes;
        addProblems(planned.report, planned.rows.problems);
    } catch (const Exception& error) {
        planned.report.errors << error.message();
    }
    return planned;
}

bool anyErrors(const QList<PlannedTable>& plan) {
    return std::any_of(plan.begin(), plan.end(),
                       [](const PlannedTable& t) { return !t.report.errors.isEmpty(); });
}

// Checks every table against the database first, so that one run reports
// every table that would be refused; then writes all of them or none.
void writePlan(QList<PlannedTable>& plan, const ImportOptions& options, ImportReport& report) {
    TSession session;
    // A protected database gets the station's one password, as in the station.
    session.OnPassword = [](TSession& sender, bool& go) {
        sender.AddPassword(kLocalTablesPassword);
        go = true;
    };
    session.DeclareAlias(options.alias, AliasKind::Local);
    TableWriter writer(session, options.alias);
    for (PlannedTable& table : plan) {
        if (table.report.file.isEmpty() || !table.report.errors.isEmpty())
            continue;
        const QString problem =
            writer.check(table.report.table, table.rows.columns, options.replace);
        if (!problem.isEmpty())
            table.report.errors << problem;
    }
    if (anyErrors(plan))
        return;
    writer.begin();
    for (PlannedTable& table : plan) {
        if (table.report.file.isEmpty())
            continue;
        const QString problem =
            writer.write(table.report.table, table.rows.columns, table.rows.rows, options.replace);
        if (!problem.isEmpty()) {
            table.report.errors << problem;
            writer.rollback();
            return;
        }
    }
    const QString problem = writer.commit();
    if (!problem.isEmpty()) {
        report.errors << problem;
        return;
    }
    for (PlannedTable& table : plan)
        table.report.imported = int(table.rows.rows.size());
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

ImportReport importStation(const ImportOptions& options) {
    ImportReport report;
    const QDir directory(options.directory);
    if (!directory.exists()) {
        report.errors << QStringLiteral("the directory '%1' does not exist").arg(options.directory);
        return report;
    }
    QList<PlannedTable> plan;
    for (const QString& name : stationTableFiles())
        plan << readTable(directory, name);
    // Most likely the wrong directory: say so rather than report success.
    if (std::all_of(plan.begin(), plan.end(),
                    [](const PlannedTable& t) { return t.report.file.isEmpty(); })) {
        report.errors
            << QStringLiteral("none of the station's tables is in '%1'").arg(options.directory);
        for (const PlannedTable& table : plan)
            report.tables << table.report;
        return report;
    }
    try {
        writePlan(plan, options, report);
    } catch (const Exception& error) {
        report.errors << error.message();
    }
    for (const PlannedTable& table : plan)
        report.tables << table.report;
    return report;
}

bool ImportReport::ok() const {
    if (!errors.isEmpty() || !written)
        return false;
    return std::none_of(tables.begin(), tables.end(),
                        [](const TableReport& t) { return !t.errors.isEmpty(); });
}

QString ImportReport::text() const {
    QString out;
    for (const TableReport& table : tables) {
        out += QStringLiteral("%1: %2 read, %3 imported, %4 skipped\n")
                   .arg(table.table)
                   .arg(table.read)
                   .arg(table.imported)
                   .arg(table.skipped);
        for (const QString& note : table.notes)
            out += QStringLiteral("  %1\n").arg(note);
        for (const QString& error : table.errors)
            out += QStringLiteral("  ERROR: %1\n").arg(error);
    }
    for (const QString& error : errors)
        out += QStringLiteral("ERROR: %1\n").arg(error);
    out += ok() ? QStringLiteral("Import complete.\n")
                : QStringLiteral("Import failed: nothing was written to the database.\n");
    return out;
}
