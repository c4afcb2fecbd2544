#pragma once

#include "StationEnvironment.h"
#include "collect/Cycles.h"
#include "collect/PointClients.h"
#include "collect/PuntoRegistro.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "store/DataSet.h"
#include "store/Session.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// What the station was told: memo text, status line, log rows, error boxes.
class RecordingReport : public StationReport {
public:
    void memoAppend(const QString& text) override {
        memo += text;
        if (onMemo)
            onMemo(text);
    }
    void memoClear() override { memo.clear(); }
    void statusText(const QString& text) override {
        status = text;
        statuses.append(text);
    }
    void logRow(const QString& archivo, std::optional<int>) override { log.append(archivo); }
    void showError(const std::exception& error) override {
        errors.append(QString::fromUtf8(error.what()));
    }

    // The memo's lines without their CR LF ends.
    QStringList memoLines() const {
        QStringList lines = memo.split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.constLast().isEmpty())
            lines.removeLast();
        return lines;
    }

    QString memo, status;
    QStringList statuses, log, errors;
    std::function<void(const QString& text)> onMemo;
};

// One call a cycle made of the point's work.
struct WorkCall {
    QString what; // "Descargar", "sincronizarPar", "closeFtp"
    QString ip;
    const CycleOutput* output = nullptr;
    bool overwrite = false;
    bool emptiedBefore = false;
};

// A point's work that records its calls and writes the memo texts of a
// normal run. Hooks let a test act while a point is being visited, as the
// event loop served during a transfer would.
class FakePointWork : public PointWork {
public:
    explicit FakePointWork(StationReport& report) : m_report(report) {}

    void Descargar(const QString& IP, const QString& Desc, const QString&,
                   CycleOutput& output) override {
        calls.append({QStringLiteral("Descargar"), IP, &output, output.overwrite, output.emptied});
        m_report.memoAppend(QStringLiteral("   ") + Desc + QStringLiteral("..."));
        if (duringDownload)
            duringDownload(IP);
        if (failingIps.contains(IP))
            throw Exception(QStringLiteral("Disk full while storing ") + IP);
        // The storing run: overwrite empties the file once per cycle.
        if (output.overwrite && !output.emptied)
            output.emptied = true;
        m_report.memoAppend(QStringLiteral(" 1 registro(s).\r\n"));
    }
    void sincronizarPar(const QString& IP, const QString& Desc, const QString&) override {
        calls.append({QStringLiteral("sincronizarPar"), IP});
        m_report.memoAppend(QStringLiteral("    - Sinc ") + Desc + QStringLiteral("..."));
        if (duringSync)
            duringSync(IP);
        if (failingSyncIps.contains(IP))
            throw Exception(QStringLiteral("socket gone"));
        m_report.memoAppend(QStringLiteral(" OK.\r\n"));
    }
    bool ftpConnected() const override {
        if (connectedTicks > 0) {
            --connectedTicks;
            ++waits;
            return true;
        }
        return false;
    }
    void closeFtp() override { calls.append({QStringLiteral("closeFtp"), {}}); }

    // The addresses of the calls of one kind, in order.
    QStringList ips(const QString& what) const {
        QStringList result;
        for (const WorkCall& call : calls)
            if (call.what == what)
                result.append(call.ip);
        return result;
    }

    QList<WorkCall> calls;
    QStringList failingIps, failingSyncIps;
    std::function<void(const QString&ip)> duringDownload, duringSync;
    mutable int connectedTicks = 0;
    mutable int waits = 0;

private:
    StationReport& m_report;
};

struct FakeControls : CycleControls {
    QTime dailyTime() const override { return daily; }
    bool constantOn() const override { return constant; }
    QString automaticPrefix() const override { return prefix; }
    QString manualPath() const override { return manual; }
    bool manualOverwrite() const override { return overwrite; }

    QTime daily{23, 0};
    bool constant = false;
    QString prefix;
    QString manual;
    bool overwrite = false;
};

// A registration point row of confRegIP.db.
struct Point {
    QString ip, desc, loc;
    bool active = true;
};

// Appends rows to the points table through a data set of its own, as the
// points editor does.
inline void appendPoints(const QString& alias, const QList<Point>& points) {
    TTable editor;
    editor.DatabaseName = alias;
    editor.TableName = QStringLiteral("confRegIP.db");
    editor.Open();
    for (const Point& point : points) {
        editor.Append();
        editor.FieldByName(QStringLiteral("IP")).setAsString(point.ip);
        editor.FieldByName(QStringLiteral("Desc")).setAsString(point.desc);
        editor.FieldByName(QStringLiteral("Loc")).setAsString(point.loc);
        editor.FieldByName(QStringLiteral("Activo")).setAsBoolean(point.active);
        editor.Post();
    }
    editor.Close();
}

// A station's world in a temporary directory: the local tables, the cycles
// with their own timers, a recording report, a settable clock, and either the
// fake point's work or the real one (against simulated points). The step
// timers tick every few milliseconds: no test here depends on their interval.
class CycleWorld {
public:
    enum class Work { Fake, Real };
    static constexpr int kTestStepMs = 5;
    // The FTP and push time-outs of the real work: short, so that a silent
    // point costs the tests little, and long enough for a loaded machine.
    static constexpr int kTestTimeOutMs = 2000;

    explicit CycleWorld(Work kind = Work::Fake) : timers(60, kTestStepMs) {
        m_previousDir = QDir::currentPath();
        useStationEnvironment(m_dir);
        m_session = std::make_unique<TSession>();
        m_session->DeclareAlias(QStringLiteral("KIVO_1"), AliasKind::Local);
        m_session->DeclareAlias(QStringLiteral("JUXRegs"), AliasKind::Server);
        tPrIP.DatabaseName = QStringLiteral("KIVO_1");
        tPrIP.TableName = QStringLiteral("confRegIP.db");
        PointWork* chosen = &work;
        if (kind == Work::Real) {
            setUpPointClients(ftp, sock);
            sock.TimeOut = kTestTimeOutMs;
            real = std::make_unique<PuntoRegistro>(PointSetup{ftp,
                                                              sock,
                                                              report,
                                                              QStringLiteral("KIVO_1"),
                                                              QStringLiteral("JUXRegs"),
                                                              [this] { return ftpTimeOutMs; },
                                                              {},
                                                              {},
                                                              QString(),
                                                              [this] { return pointsAtOnce; }});
            chosen = real.get();
        }
        cycles =
            std::make_unique<CollectionCycles>(timers.timers(), tPrIP, controls, *chosen, report);
        connectCycleTimers(*cycles, timers.timers(), &m_context);
        setClock([this] { return now; });
    }
    ~CycleWorld() {
        setClock({});
        cycles.reset();
        real.reset();
        tPrIP.Close();
        m_session.reset();
        QDir::setCurrent(m_previousDir);
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void addPoints(const QList<Point>& points) { appendPoints(QStringLiteral("KIVO_1"), points); }
    // n active points 127.0.3.<first> ... with descriptions P1 ...
    void addActivePoints(int n, int first = 1) {
        QList<Point> points;
        for (int i = 1; i <= n; ++i)
            points.append({QStringLiteral("127.0.3.%1").arg(first + i - 1),
                           QStringLiteral("P%1").arg(i), QString::number(100 + i)});
        addPoints(points);
    }

    QDateTime now{QDate(2024, 3, 7), QTime(10, 0)};
    RecordingReport report;
    FakePointWork work{report};
    FakeControls controls;
    OwnedCycleTimers timers;
    TTable tPrIP;
    std::unique_ptr<CollectionCycles> cycles;

    // The real point's work and what it needs from its owner.
    TFtpClient ftp;
    TTcpSock sock;
    std::unique_ptr<PuntoRegistro> real;
    int pointsAtOnce = 1; // "Puntos a la vez" of the real work
    int ftpTimeOutMs = kTestTimeOutMs;

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    std::unique_ptr<TSession> m_session;
    QObject m_context;
};
