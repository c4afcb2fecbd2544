#pragma once

#include "store/StoreFixture.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <memory>

// A store world for grid and window tests: temporary paths, the two default
// aliases, fixed regional formats (dd/MM/yyyy, HH:mm:ss, decimal comma), and
// the texts of the message boxes shown instead of the boxes themselves.
struct GridWorld {
    GridWorld();
    ~GridWorld();

    struct Point {
        QString ip, desc, loc;
        bool activo;
    };
    void addPoints(const QList<Point>& points);
    void addPerson(int codigo, const QString& nombres, bool servTaxi);
    void addLog(const QString& archivo);

    // The alias the tables below use: KIVO_1, or a PostgreSQL one.
    QString alias = QStringLiteral("KIVO_1");
    TTable localTable(const QString& name) const;
    QSqlDatabase localConnection() const;
    int countRows(const QString& sqlTable) const;
    int columnOf(TDataSet& dataSet, const QString& field) const;

    // Points the local alias at a schema of its own on the test PostgreSQL,
    // with the log and personnel tables; false when KIVO_TEST_PG is unset.
    bool usePostgresLocalAlias();

    // Types a text into a new row through the grid's model, posts it, and
    // checks the text shown and the value the store reads back.
    void checkTextRoundTrip(const QString& table, const QString& field, const QString& typed,
                            const QString& shown, const QVariant& read);

    StoreWorld store;
    QStringList boxes;

private:
    std::unique_ptr<TDatabase> m_postgres;
    QString m_schema;
};
