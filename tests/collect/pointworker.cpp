// Runs one point's work once, as a station would, and dies by SIGKILL at a
// named step when asked: the kill test's child process.
//   pointworker <ip> <loc> <output path> [<step> [<record>]]
// The environment names the registry, aliases, data and the simulator's ports;
// KIVO_WORKER_SERVER the server alias (default JUXRegs).
#include "PointHarness.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: pointworker <ip> <loc> <output> [<step> [<record>]]\n");
        return 64;
    }
    const QString server = qEnvironmentVariable("KIVO_WORKER_SERVER", QStringLiteral("JUXRegs"));
    const QByteArray step = args.size() > 4 ? args.at(4).toLatin1() : QByteArray();
    const int record = args.size() > 5 ? args.at(5).toInt() : -1;
    try {
        PointHarness h(QStringLiteral("KIVO_1"), server, 5000);
        h.work->setProbe([&](const char* name, int k) {
            if (step == name && (record < 0 || k == record))
                ::kill(::getpid(), SIGKILL);
        });
        CycleOutput out{args.at(3)};
        h.work->Descargar(args.at(1), QStringLiteral("Punto"), args.at(2), out);
        h.work->closeFtp();
        std::printf("%s\n", qPrintable(h.report.memo.trimmed()));
        return h.work->state().unfinished ? 3 : 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pointworker: %s\n", error.what());
        return 2;
    }
}
