#pragma once

// A plain HTTP/1.0 client for the web page's tests: one request, the whole
// reply, taken apart.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

struct HttpReply {
    QByteArray raw;
    int status() const { return raw.mid(raw.indexOf(' ') + 1, 3).toInt(); }
    QByteArray head() const { return raw.left(raw.indexOf("\r\n\r\n")); }
    QByteArray body() const { return raw.mid(raw.indexOf("\r\n\r\n") + 4); }
    // The values of a header (empty: none).
    QList<QByteArray> headers(const QByteArray& name) const {
        QList<QByteArray> values;
        for (const QByteArray& line : head().split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                values << line.mid(name.size() + 1).trimmed();
        return values;
    }
    QByteArray header(const QByteArray& name) const { return headers(name).value(0); }
    // The value a Set-Cookie gives the cookie.
    QByteArray cookie(const QByteArray& name) const {
        for (const QByteArray& set : headers("Set-Cookie"))
            if (set.startsWith(name + '='))
                return set.mid(name.size() + 1, set.indexOf(';') - name.size() - 1);
        return {};
    }
};

// from: the local address to send from (loopback has many).
inline HttpReply exchange(quint16 port, const QByteArray& request, const QHostAddress& from = {}) {
    QTcpSocket socket;
    if (!from.isNull())
        socket.bind(from);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray reply;
    QDeadlineTimer deadline(60000);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
        if (socket.waitForReadyRead(1000) || socket.bytesAvailable())
            reply += socket.readAll();
    return {reply + socket.readAll()};
}

inline HttpReply get(quint16 port, const QByteArray& target, const QByteArray& headers = {}) {
    return exchange(port, "GET " + target + " HTTP/1.0\r\n" + headers + "\r\n");
}

inline HttpReply post(quint16 port, const QByteArray& target, const QByteArray& form,
                      const QByteArray& headers = {}, const QHostAddress& from = {}) {
    return exchange(port,
                    "POST " + target +
                        " HTTP/1.0\r\nContent-Type: application/x-www-form-"
                        "urlencoded\r\nContent-Length: " +
                        QByteArray::number(form.size()) + "\r\n" + headers + "\r\n" + form,
                    from);
}

// The value of the hidden field "csrf" in a page.
inline QByteArray csrfField(const QByteArray& page) {
    const QByteArray field = "name=\"csrf\" value=\"";
    const qsizetype at = page.indexOf(field) + field.size();
    return page.mid(at, page.indexOf('"', at) - at);
}

// The login form's token and its cookie.
struct LoginForm {
    QByteArray token, cookie;
};
inline LoginForm loginForm(quint16 port) {
    const HttpReply page = get(port, "/entrar");
    return {csrfField(page.body()), page.cookie("kivo_entrada")};
}

// Logs in: the reply, whose cookie kivo_sesion is the session's.
inline HttpReply logIn(quint16 port, const QByteArray& user, const QByteArray& password,
                       const QHostAddress& from = {}) {
    const LoginForm form = loginForm(port);
    return post(port, "/entrar", "csrf=" + form.token + "&usuario=" + user + "&clave=" + password,
                "Cookie: kivo_entrada=" + form.cookie + "\r\n", from);
}
