#pragma once

#include "store/Aliases.h"

#include <QString>

class TDatabase;
class TFtpClient;
class TSession;
class TTcpSock;

// The points' FTP login.
inline const QString kPointFtpUser = QStringLiteral("tolv");
inline const QString kPointFtpPassword = QStringLiteral("kqnwdrb");
// The parameter socket's time-out, in milliseconds.
constexpr int kParamTimeOutMs = 30000;
// The server alias's login lines, in the working directory.
inline const QString kServerLoginFile = QStringLiteral("dbLogin.txt");

// The two network components of a point's work as every owner sets them up:
// the points' FTP login and options, and the parameter socket's time-out.
void setUpPointClients(TFtpClient& ftp, TTcpSock& sock);

// Reads the alias names and declares them in the session; the server alias
// "NONE" declares none.
AliasNames declareStationAliases(TSession& session);

// The built-in login lines stay in force when the file cannot be loaded, and
// are written out so that the next start finds a file to edit. Throws when
// even that fails: the station cannot start.
void loadServerLogin(TDatabase& server);
