#pragma once

class TFtpClient;
class TTcpSock;

// The two network components of a point's work as every owner sets them up:
// the points' FTP login and options, and the parameter socket's time-out.
void setUpPointClients(TFtpClient& ftp, TTcpSock& sock);
