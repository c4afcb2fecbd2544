#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QString>
#include <optional>

// Who may look at the office's web page: an accounts file the administrator
// keeps (the station never writes it), one "NAME:HASH" line per person, the
// hash Argon2id as libsodium's crypto_pwhash_str writes it; blank lines and
// lines starting with "#" are skipped.

// A name the file can hold: letters, digits, ".", "_" and "-", at most 64.
bool validAccountName(const QString& name);
// The line for the file; raises when the password cannot be hashed.
QString accountLine(const QString& name, const QByteArray& password);
// Whether the file holds the name with that password. Reads the file anew,
// so that an edited file counts at the next login; an unreadable one admits
// nobody, with the reason in problem.
bool checkAccount(const QString& path, const QString& name, const QByteArray& password,
                  QString& problem);

// The sessions of the page, kept in memory (a restart asks everyone to log in
// again), their CSRF tokens, the login forms' tokens, and the failed logins
// per address. Any thread.
class WebSessions {
public:
    struct Session {
        QString user;
        QByteArray csrf;
    };

    explicit WebSessions(int idleMinutes) : m_idleMs(qint64(idleMinutes) * 60000) {}

    // A login form's token, good for one login within the idle time.
    QByteArray loginToken();
    // Whether the token is one given and still good; it is used up.
    bool takeLoginToken(const QByteArray& token);

    // A new session's identifier.
    QByteArray open(const QString& user);
    // The session of the identifier, if it is one and has not been idle too
    // long; using it restarts its idle time.
    std::optional<Session> find(const QByteArray& id);
    void close(const QByteArray& id);

    // Seconds the address must still wait before its next try (0: none).
    int waitFor(const QHostAddress& address);
    // A failed login from the address: each one doubles its wait, from one
    // second up to a minute. A success clears it.
    void failed(const QHostAddress& address);
    void succeeded(const QHostAddress& address);

private:
    struct Kept {
        Session session;
        qint64 lastUsed = 0;
    };
    struct Failures {
        int count = 0;
        qint64 until = 0; // no try before (ms, steady clock)
    };
    void forgetIdle(qint64 now);

    const qint64 m_idleMs;
    QMutex m_mutex;
    QHash<QByteArray, Kept> m_sessions;
    QHash<QByteArray, qint64> m_loginTokens; // and when each was given
    QHash<QHostAddress, Failures> m_failures;
};
