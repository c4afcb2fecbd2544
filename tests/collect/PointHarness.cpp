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
    work = std::make_unique<PuntoRegistro>(PointSetup{ftp, sock, report, localAlias, server,
                                                      [this] { return ftpTimeOut; },
                                                      [this] { return settings; },
                                                      [this] {
                                                          settings.fFTPerr = false;
                                                          settings.recovery = RecoveryExtra();
                                                          save();
                                                      }});
    work->setProbe([this](const char* step, int) {
        if (qstrcmp(step, "save-state") == 0 && failSavesFrom > 0 && ++saves >= failSavesFrom)
            throw Exception(QStringLiteral("No se puede guardar el estado de recuperación"));
    });
}

PointHarness::~PointHarness() {
    work.reset();
}

void PointHarness::load() {
    TRegistry registry;
    if (registry.OpenKey(settingsKey(serverAlias), false)) {
        QStringList unread;
        readRecoveryValues(registry, settings, unread);
        try {
            SettingsRecord record(settings);
            readSettings(registry, record);
        } catch (const ERegistryException&) {
            // a key with the recovery values alone
        }
        registry.CloseKey();
    }
}

void PointHarness::save() {
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), true))
        throw ERegistryException(QStringLiteral("Cannot open the settings key"));
    writeSettings(registry, settings);
    registry.CloseKey();
}
