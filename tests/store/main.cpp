#include "RunSuites.h"

#include <QCoreApplication>
#include <QObject>
#include <memory>
#include <vector>

QObject* newAliasTests();
QObject* newEmbeddedTests();
QObject* newDataSetTests();
QObject* newSqlTests();
QObject* newPostgresTests();
QObject* newSchemaStepsTests();

// One executable for the store; each concern has its own test class.
// "tst_store TestSql [QtTest options]" runs that class alone.
int main(int argc, char** argv) {
    // A crash handler that attaches a debugger can hang in a container; the
    // failure report is enough.
    if (!qEnvironmentVariableIsSet("QTEST_DISABLE_STACK_DUMP"))
        qputenv("QTEST_DISABLE_STACK_DUMP", "1");
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> suites;
    for (auto make : {newAliasTests, newEmbeddedTests, newDataSetTests, newSqlTests,
                      newPostgresTests, newSchemaStepsTests})
        suites.emplace_back(make());
    return runSuites(argc, argv, suites);
}
