#include "collect/PointClients.h"

#include "net/FtpClient.h"
#include "net/NetPorts.h"
#include "net/TcpSock.h"

void setUpPointClients(TFtpClient& ftp, TTcpSock& sock) {
    ftp.Port = ftpPort();
    ftp.UserID = QStringLiteral("tolv");
    ftp.Password = QStringLiteral("kqnwdrb");
    ftp.Passive = false;
    ftp.ReportLevel = 16; // "Timer Triggered" must reach the status handler
    ftp.ParseList = true;
    ftp.Vendor = 2411;
    ftp.FirewallType = FTUser;
    ftp.FWAuthenticate = false;
    ftp.ProxyPort = 0;

    sock.Port = paramPort();
    sock.TimeOut = 30000;
    sock.ReportLevel = 0;
}
