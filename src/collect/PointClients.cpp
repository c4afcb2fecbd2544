#include "collect/PointClients.h"

#include "net/FtpClient.h"
#include "net/NetPorts.h"
#include "net/TcpSock.h"
#include "platform/Errors.h"
#include "store/Session.h"

void setUpPointClients(TFtpClient& ftp, TTcpSock& sock) {
    ftp.Port = ftpPort();
    ftp.UserID = kPointFtpUser;
    ftp.Password = kPointFtpPassword;
    ftp.Passive = false;
    ftp.ReportLevel = 16; // "Timer Triggered" must reach the status handler
    ftp.ParseList = true;
    ftp.Vendor = 2411;
    ftp.FirewallType = FTUser;
    ftp.FWAuthenticate = false;
    ftp.ProxyPort = 0;

    sock.Port = paramPort();
    sock.TimeOut = kParamTimeOutMs;
    sock.ReportLevel = 0;
}

AliasNames declareStationAliases(TSession& session) {
    const AliasNames aliases = readAliasFile();
    session.DeclareAlias(aliases.local, AliasKind::Local);
    if (aliases.server != kNoServerAlias)
        session.DeclareAlias(aliases.server, AliasKind::Server);
    return aliases;
}

void loadServerLogin(TDatabase& server) {
    try {
        server.LoadParamsFromFile(kServerLoginFile);
        return;
    } catch (const Exception&) {
    }
    server.SaveParamsToFile(kServerLoginFile);
}
