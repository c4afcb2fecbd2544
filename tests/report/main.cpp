#include <QApplication>
#include <QObject>
#include <QTest>
#include <cstring>
#include <memory>
#include <vector>

QObject* newExportTests();
QObject* newPageTests();
QObject* newRegAsistTests();

// One executable for the report area; "tst_report TestPages [options]" runs
// that class alone.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QTEST_DISABLE_STACK_DUMP"))
        qputenv("QTEST_DISABLE_STACK_DUMP", "1");
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> suites;
    for (auto make : {newExportTests, newPageTests, newRegAsistTests})
        suites.emplace_back(make());
    const char* only = nullptr;
    for (const auto& suite : suites)
        if (argc > 1 && std::strcmp(argv[1], suite->metaObject()->className()) == 0)
            only = argv[1];
    std::vector<char*> args(argv, argv + argc);
    if (only)
        args.erase(args.begin() + 1);
    int failed = 0;
    for (const auto& suite : suites)
        if (!only || std::strcmp(only, suite->metaObject()->className()) == 0)
            failed += QTest::qExec(suite.get(), static_cast<int>(args.size()), args.data()) != 0;
    return failed;
}
