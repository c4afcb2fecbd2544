#pragma once

// Texts of the FTP client: commands, status texts and error messages.
namespace FtpText {
inline constexpr char User[] = "USER ";
inline constexpr char Pass[] = "PASS ";
inline constexpr char Open[] = "OPEN ";
inline constexpr char Site[] = "SITE ";
inline constexpr char Quit[] = "QUIT";
inline constexpr char Dele[] = "DELE ";
inline constexpr char Retr[] = "RETR ";
inline constexpr char PortCmd[] = "PORT ";
inline constexpr char Pasv[] = "PASV";
inline constexpr char Abor[] = "ABOR";
inline constexpr char Pwd[] = "PWD";
inline constexpr char Cwd[] = "CWD";
inline constexpr char Mkd[] = "MKD";
inline constexpr char Rmd[] = "RMD";
inline constexpr char DeleWord[] = "DELE";
inline constexpr char Disconnected[] = "Disconnected";
inline constexpr char Received[] = "Received ";
inline constexpr char Bytes[] = " Bytes";

inline constexpr char ClosedInReply[] = "Connection closed in the middle of a reply";
inline constexpr char NoReply[] = "Connection closed without a reply";
inline constexpr char TransferAborted[] = "Transfer aborted";
inline constexpr char ReplyTooLong[] = "Reply longer than %1 lines";
inline constexpr char ReplyTooSlow[] = "Reply not complete within the time-out";
inline constexpr char TransferIncomplete[] = "Transfer incomplete: %1 of %2 bytes received";
} // namespace FtpText
