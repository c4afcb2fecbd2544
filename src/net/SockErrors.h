#pragma once

#include "platform/Errors.h"

// Errors of the socket component: failed socket calls, failed connects and
// lookups, refused data connections.
class ESockError : public Exception {
public:
    explicit ESockError(QString message, int code = 0)
        : Exception(std::move(message)), m_code(code) {}
    // The socket error (Winsock numbering) behind it; 0 when none.
    int code() const { return m_code; }

private:
    int m_code;
};

// A send or read that ended because it was cancelled (directly or by the
// time-out).
class EAbortError : public Exception {
public:
    using Exception::Exception;
};

// The general error raised when an operation needs a connection and has none.
class ENotConnected : public Exception {
public:
    using Exception::Exception;
};

// An FTP reply that fails its step; the message is the reply line.
class FTPException : public Exception {
public:
    using Exception::Exception;
};
