#pragma once

// One registration point's work without a window: the network components, a
// report that keeps what it is told, and settings saved to the registry file
// as the station saves them. Used by the tests, the worker of the kill test
// and the benchmark.

#include "collect/PuntoRegistro.h"
#include "collect/SettingsCodec.h"
#include "collect/StationReport.h"
#include "store/Session.h"

#include <QStringList>
#include <memory>
#include <optional>

class MemoryReport : public StationReport {
public:
    QString memo;
    QString status;
    QStringList log;
    QList<std::optional<int>> logCounts;
    int errors = 0;

    void memoAppend(const QString& text) override { memo += text; }
    void memoClear() override { memo.clear(); }
    void statusText(const QString& text) override { status = text; }
    void logRow(const QString& archivo, std::optional<int> n = std::nullopt) override {
        log << archivo;
        logCounts << n;
    }
    void showError(const std::exception&) override { ++errors; }
};

class PointHarness {
public:
    // The environment (aliases, registry, working directory) is set already.
    PointHarness(const QString& localAlias, const QString& serverAlias, int ftpTimeOut = 10000);
    ~PointHarness();

    void load(); // the settings as the registry file holds them
    void save(); // guardarParam; raises when the key cannot be opened or written

    // Saves of the recovery state from this one on fail as with an unwritable
    // disk (1: the first); 0: none. Counted through the work's probe.
    int failSavesFrom = 0;
    int saves = 0;

    TSession session;
    TDatabase serverDb{session}; // the server connection with the station's login
    TFtpClient ftp;
    TTcpSock sock;
    MemoryReport report;
    StationSettings settings;
    QString serverAlias;
    std::unique_ptr<PuntoRegistro> work;
    int ftpTimeOut;
    int pointsAtOnce = 1;
};
