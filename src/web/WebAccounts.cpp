#include "web/WebAccounts.h"

#include "platform/Errors.h"

#include <QFile>
#include <QMutexLocker>
#include <QRegularExpression>
#include <chrono>
#include <sodium.h>

namespace {

constexpr int kTokenBytes = 32;
constexpr int kMaxWaitSeconds = 60;
// Failures older than this are forgotten.
constexpr qint64 kFailureMemoryMs = 15 * 60 * 1000;
// Login forms and failing addresses kept at most: a flood of either makes
// room by forgetting some (a form forgotten is asked again), never memory.
constexpr qsizetype kMaxKept = 4096;

template <typename Hash> void makeRoom(Hash& hash) {
    while (hash.size() >= kMaxKept)
        hash.erase(hash.begin());
}

void initialiseSodium() {
    static const int ready = sodium_init();
    if (ready < 0)
        throw Exception(QStringLiteral("libsodium cannot start"));
}

QByteArray randomToken() {
    initialiseSodium();
    QByteArray bytes(kTokenBytes, '\0');
    randombytes_buf(bytes.data(), size_t(bytes.size()));
    return bytes.toHex();
}

// Milliseconds on a clock that a change of the system's time does not move.
qint64 now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

bool validAccountName(const QString& name) {
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return shape.match(name).hasMatch();
}

QString accountLine(const QString& name, const QByteArray& password) {
    initialiseSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, password.constData(), quint64(password.size()),
                              crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw Exception(QStringLiteral("No memory to hash the password"));
    return name + QLatin1Char(':') + QString::fromLatin1(hash);
}

bool checkAccount(const QString& path, const QString& name, const QByteArray& password,
                  QString& problem) {
    initialiseSodium();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        problem = QStringLiteral("no se puede leer %1: %2").arg(path, file.errorString());
        return false;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0 || line.left(colon) != name)
            continue;
        const QByteArray hash = line.mid(colon + 1).toLatin1();
        return crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                        quint64(password.size())) == 0;
    }
    return false;
}

QByteArray WebSessions::loginToken() {
    const QByteArray token = randomToken();
    const QMutexLocker lock(&m_mutex);
    forgetIdle(now());
    makeRoom(m_loginTokens);
    m_loginTokens.insert(token, now());
    return token;
}

bool WebSessions::takeLoginToken(const QByteArray& token) {
    const QMutexLocker lock(&m_mutex);
    forgetIdle(now());
    return m_loginTokens.remove(token) > 0;
}

QByteArray WebSessions::open(const QString& user) {
    const QByteArray id = randomToken();
    Kept kept{{user, randomToken()}, now()};
    const QMutexLocker lock(&m_mutex);
    m_sessions.insert(id, kept);
    return id;
}

std::optional<WebSessions::Session> WebSessions::find(const QByteArray& id) {
    const QMutexLocker lock(&m_mutex);
    const qint64 at = now();
    forgetIdle(at);
    const auto kept = m_sessions.find(id);
    if (kept == m_sessions.end())
        return std::nullopt;
    kept->lastUsed = at;
    return kept->session;
}

void WebSessions::close(const QByteArray& id) {
    const QMutexLocker lock(&m_mutex);
    m_sessions.remove(id);
}

void WebSessions::forgetIdle(qint64 at) {
    m_sessions.removeIf([&](const auto& kept) { return at - kept.value().lastUsed > m_idleMs; });
    m_loginTokens.removeIf([&](const auto& given) { return at - given.value() > m_idleMs; });
    m_failures.removeIf(
        [&](const auto& failures) { return at - failures.value().until > kFailureMemoryMs; });
}

int WebSessions::waitFor(const QHostAddress& address) {
    const QMutexLocker lock(&m_mutex);
    const qint64 until = m_failures.value(address).until;
    return until > now() ? int((until - now() + 999) / 1000) : 0;
}

void WebSessions::failed(const QHostAddress& address) {
    const QMutexLocker lock(&m_mutex);
    if (!m_failures.contains(address))
        makeRoom(m_failures);
    Failures& failures = m_failures[address];
    failures.count = std::min(failures.count + 1, 16);
    const qint64 seconds = std::min<qint64>(qint64(1) << (failures.count - 1), kMaxWaitSeconds);
    failures.until = now() + seconds * 1000;
}

void WebSessions::succeeded(const QHostAddress& address) {
    const QMutexLocker lock(&m_mutex);
    m_failures.remove(address);
}
