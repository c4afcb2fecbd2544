#pragma once

#include <QString>

// The socket component reports errors with the Winsock codes (10035 would
// block, 10061 refused, ...), whatever the platform underneath.
namespace Winsock {
inline constexpr int Interrupted = 10004;
inline constexpr int WouldBlock = 10035;
inline constexpr int InProgress = 10036;
inline constexpr int NotConnected = 10057;
inline constexpr int ConnectionAborted = 10053;
inline constexpr int ConnectionReset = 10054;
inline constexpr int TimedOut = 10060;
inline constexpr int NetUnreachable = 10051;
inline constexpr int Refused = 10061;
inline constexpr int HostUnreachable = 10065;
inline constexpr int HostNotFound = 11001;
inline constexpr int NoRecovery = 11003;

// The Winsock code for a POSIX errno; errno values without a Winsock
// counterpart become 20000 + errno, which no table row matches.
int codeFromErrno(int err);

// The table text of a code ("Connection refused"), empty when it has no row.
QString tableText(int code);

// The last socket error of this thread, as WSAGetLastError gives it.
int lastError();
void setLastError(int code);
// Maps errno and stores it as the last error; returns the code.
int takeErrno();
} // namespace Winsock
