#pragma once

// Texts of the socket component: status texts and error messages.
namespace SockText {
inline constexpr char AlreadyConnected[] = "Already connected";
inline constexpr char NullRemoteAddress[] = "Null Remote Address";
inline constexpr char LookupTimedOut[] = "Host Lookup Timed Out";
inline constexpr char LookupCanceled[] = "Host Lookup Canceled";
inline constexpr char LookupFailed[] = "Host Lookup Failed";
inline constexpr char ConnectTimedOut[] = "Connection Timed out";
inline constexpr char ConnectCanceled[] = "Connection Canceled";
inline constexpr char ConnectFailed[] = "Connection Failed";
inline constexpr char AcceptCanceled[] = "Accepting Canceled";
inline constexpr char AcceptFailed[] = "Error creating Data Connection";
// The misspelling is part of the established message.
inline constexpr char InitFailed[] = "Initializaton of windows sockets failed";
inline constexpr char SendAborted[] = "Socket send aborted";
inline constexpr char ReadLnAborted[] = "Socket readln aborted";
inline constexpr char NotConnected[] = "Not Connected";
inline constexpr char NoTimer[] = "No Timer";
inline constexpr char UnknownError[] = "Unknown Error No. ";

inline constexpr char LineTooLong[] = "Line longer than the receive buffer";
inline constexpr char BufferTooLong[] = "Send buffer longer than 65535 bytes";
// A command is one line: CR or LF would smuggle in a second one, and NUL would
// cut it short.
inline constexpr char BadCharInCommand[] = "Command contains CR, LF or NUL";
inline constexpr char TransferTooSlow[] = "Transfer slower than the minimum rate";
inline constexpr char ReplyNumberRange[] = "Reply number out of range";
inline constexpr char CannotCreateFile[] = "Cannot create file ";
inline constexpr char CannotWriteFile[] = "Cannot write file ";
} // namespace SockText
