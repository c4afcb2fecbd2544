#include "PointHarness.h"

#include "platform/Registry.h"
#include "store/Aliases.h"

PointHarness::PointHarness(const QString& localAlias, const QString& server, int timeOut)
    : serverAlias(server), ftpTimeOut(timeOut) {
    serverDb.AliasName = serverDb.DatabaseName = serverAlias;
    session.DeclareAlias(localAlias, AliasKind::Local);
    if (server != kNoServerAlias)
        session.DeclareAlias(server, AliasKind::Server);
    ftp.UserID = QStringLiteral("tolv");
    ftp.Password = QStringLiteral("kqnwdrb");
    ftp.ReportLevel = 16;
    sock.TimeOut = 30000;
    load();
    work = std::make_unique<PuntoRegistro>(
        PointSetup{ftp, sock, report, localAlias, server, settings.fFTPerr, settings.FTPloc,
                   settings.recovery, [this] { save(); }, [this] { return ftpTimeOut; }});
}

PointHarness::~PointHarness() {
    work.reset();
}

void PointHarness::load() {
    TRegistry registry;
    if (registry.OpenKey(settingsKey(serverAlias), false)) {
        readSettings(registry, *this);
        registry.CloseKey();
    }
}

void PointHarness::save() {
    ++saves;
    if (failSavesFrom > 0 && saves >= failSavesFrom)
        throw ERegistryException(QStringLiteral("Failed to set data for 'FTPrun'"));
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), true))
        throw ERegistryException(QStringLiteral("Cannot open the settings key"));
    writeSettings(registry, settings);
    registry.CloseKey();
}
