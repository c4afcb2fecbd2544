#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Carrying the six local tables of an existing station into the database of
// a local alias. All or nothing: the rows of every table found are written
// in one transaction, and any failure leaves the database as it was.
struct ImportOptions {
    QString directory;    // the old station's directory
    QString alias;        // the local alias
    bool replace = false; // empty tables that hold rows, inside the transaction
};

struct TableReport {
    QString table; // the station's name: "lectura.DB"
    QString file;  // the file found; empty when missing
    int read = 0;
    int imported = 0;
    int skipped = 0;
    QStringList notes;  // skipped rows and columns, with the reason
    QStringList errors; // why the table cannot be imported
};

struct ImportReport {
    QList<TableReport> tables;
    QStringList errors; // failures of the run as a whole
    bool written = false;

    bool ok() const;
    // One block per table, then the outcome.
    QString text() const;
};

ImportReport importStation(const ImportOptions& options);

// The six table files, as the station names them.
const QStringList& stationTableFiles();
