#pragma once

#include <QObject>
#include <QTest>
#include <cstring>
#include <memory>
#include <vector>

// Runs the test classes of one area's executable; "tst_x TestClass [QtTest
// options]" runs that class alone. Returns the number of classes that failed.
inline int runSuites(int argc, char** argv, const std::vector<std::unique_ptr<QObject>>& suites) {
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
