#pragma once

#include "RowConverter.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

// Carrying the six local tables of an existing station into the database of
// a local alias. All or nothing: the rows of every table found are written
// in one transaction, and any failure leaves the database as it was.
struct ImportOptions {
    QString directory;    // the old station's directory
    QString alias;        // the local alias
    bool replace = false; // empty tables that hold rows, inside the transaction
    // The tables the station collects into (lectura, lecturaBAK, log) keep
    // their rows and get the old station's rows added.
    bool keepCollected = false;
    bool dryRun = false; // read and check everything, write nothing
    // Per table ("lectura", "personal": the station's name, any letter case).
    QMap<QString, QString> codepages; // a code page that replaces the one the file names
    QMap<QString, ColumnChoices> columns;
    // Where the copy of a server database's tables goes before --replace
    // deletes rows; the working directory when empty.
    QString backupDirectory;
    // Told what is being done, for a person waiting on a large table.
    std::function<void(const QString&)> progress;
};

struct TableReport {
    QString table; // the station's name: "lectura.DB"
    QString file;  // the file found; empty when missing
    QString codec; // the code page its text is read in, and where that comes from
    int read = 0;
    int imported = 0; // after a dry run: the rows that would be imported
    int skipped = 0;
    qint64 deleting = 0; // rows of the database that --replace deletes
    QStringList notes;   // skipped rows and columns, with the reason
    QStringList errors;  // why the table cannot be imported
};

struct ImportReport {
    QList<TableReport> tables;
    QStringList errors; // failures of the run as a whole
    bool written = false;
    bool dryRun = false;
    QString backup; // the copy of the database taken before rows were deleted

    bool ok() const;
    // One block per table, then the outcome.
    QString text() const;
};

ImportReport importStation(const ImportOptions& options);

// The six table files, as the station names them.
const QStringList& stationTableFiles();
// The station's name of a table a user names ("lectura", "LECTURA.DB"), or
// empty when it is none of the six.
QString stationTableOf(const QString& name);
// The tables the station collects tickets and its log into.
bool isCollectedTable(const QString& table);
