#include "RunSuites.h"

#include <QApplication>
#include <QObject>
#include <memory>
#include <vector>

QObject* newExportTests();
QObject* newGroupTests();
QObject* newPageTests();
QObject* newRegAsistTests();
QObject* newWorkbookReaderTests();

// One executable for the report area; "tst_report TestPages [options]" runs
// that class alone.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QTEST_DISABLE_STACK_DUMP"))
        qputenv("QTEST_DISABLE_STACK_DUMP", "1");
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> suites;
    for (auto make :
         {newExportTests, newGroupTests, newPageTests, newRegAsistTests, newWorkbookReaderTests})
        suites.emplace_back(make());
    return runSuites(argc, argv, suites);
}
