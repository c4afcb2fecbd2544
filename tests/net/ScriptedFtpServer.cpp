#include "ScriptedFtpServer.h"

#include <sys/socket.h>

ScriptedFtpServer::ScriptedFtpServer() {
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { onConnection(); });
    QObject::connect(&m_passive, &QTcpServer::newConnection, &m_passive, [this] {
        if (!m_passiveWaiting)
            return; // RETR picks it up
        if (QTcpSocket* data = m_passive.nextPendingConnection()) {
            m_passiveWaiting = false;
            sendData(data, m_passiveContent);
        }
    });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    m_drip.stop();
    if (m_control)
        m_control->abort();
}

void ScriptedFtpServer::drip(const QByteArray& line) {
    m_drip.disconnect();
    QObject::connect(&m_drip, &QTimer::timeout, &m_server, [this, line] { send(line); });
    m_drip.start(50);
}

void ScriptedFtpServer::onConnection() {
    QTcpSocket* socket = m_server.nextPendingConnection();
    if (!socket)
        return;
    m_control = socket;
    m_pending.clear();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] { onControlData(); });
    send(greeting);
    if (dripping.contains(QString()))
        drip(dripping.value(QString()));
    if (closeAfterGreeting) {
        socket->disconnectFromHost();
        m_control = nullptr;
    }
}

void ScriptedFtpServer::send(const QByteArray& bytes) {
    if (!m_control)
        return;
    m_control->write(bytes);
    m_control->flush();
}

void ScriptedFtpServer::onControlData() {
    m_pending += m_control->readAll();
    for (qsizetype lf = m_pending.indexOf('\n'); lf >= 0; lf = m_pending.indexOf('\n')) {
        QByteArray line = m_pending.left(lf + 1);
        m_pending.remove(0, lf + 1);
        handle(QString::fromLatin1(line.trimmed()));
        if (!m_control)
            return;
    }
}

void ScriptedFtpServer::handle(const QString& line) {
    commands << line;
    const QString word = line.section(QLatin1Char(' '), 0, 0);
    const QString arg = line.section(QLatin1Char(' '), 1);
    if (dripping.contains(word)) {
        drip(dripping.value(word));
        return;
    }
    QByteArray reply;
    if (replies.contains(line))
        reply = replies.value(line);
    else if (replies.contains(word))
        reply = replies.value(word);
    if (!reply.isNull()) {
        send(reply);
        if (closeAfterReply) {
            m_control->disconnectFromHost();
            m_control = nullptr;
        }
        return;
    }
    if (word == QLatin1String("USER"))
        send("331 Password required.\r\n");
    else if (word == QLatin1String("PASS"))
        send("230 Logged in.\r\n");
    else if (word == QLatin1String("QUIT")) {
        send("221 Goodbye.\r\n");
        m_control->disconnectFromHost();
        m_control = nullptr;
    } else if (word == QLatin1String("PORT")) {
        const QStringList f = arg.split(QLatin1Char(','));
        m_portAddress = QHostAddress(f.mid(0, 4).join(QLatin1Char('.')));
        m_portPort = quint16(f.value(4).toInt() * 256 + f.value(5).toInt());
        m_passiveMode = false;
        send("200 PORT command successful.\r\n");
    } else if (word == QLatin1String("PASV")) {
        m_passive.close();
        m_passive.listen(QHostAddress::LocalHost, 0);
        m_passiveMode = true;
        const quint16 p = m_passive.serverPort();
        // A documentation address that leads nowhere: the client must use the
        // host it knows.
        send(QStringLiteral("227 Entering Passive Mode (192,0,2,1,%1,%2).\r\n")
                 .arg(p >> 8)
                 .arg(p & 0xff)
                 .toLatin1());
    } else if (word == QLatin1String("RETR")) {
        if (!files.contains(arg))
            send("550 No such file.\r\n");
        else
            startRetr(files.value(arg));
    } else if (word == QLatin1String("ABOR")) {
        send("226 Abort successful.\r\n");
    } else {
        send("200 OK.\r\n");
    }
}

void ScriptedFtpServer::startRetr(const QByteArray& content) {
    send(retrReply.isEmpty() ? QStringLiteral("150 Opening data connection (%1 bytes).\r\n")
                                   .arg(content.size())
                                   .toLatin1()
                             : retrReply);
    if (dataMode == DataMode::Never)
        return;
    if (m_passiveMode) {
        if (QTcpSocket* data = m_passive.nextPendingConnection())
            sendData(data, content);
        else {
            m_passiveContent = content;
            m_passiveWaiting = true;
        }
        return;
    }
    if (dataMode != DataMode::ForeignFirst) {
        openActiveData(content, QHostAddress::LocalHost);
        return;
    }
    // A stranger on another loopback address races for the data port first.
    auto* foreign = new QTcpSocket(&m_server);
    foreign->bind(QHostAddress(QStringLiteral("127.0.0.2")));
    QObject::connect(foreign, &QTcpSocket::connected, foreign,
                     [foreign] { foreign->write("STOLEN DATA"); });
    QObject::connect(foreign, &QTcpSocket::disconnected, foreign, [this, foreign, content] {
        foreignRejected = true;
        foreign->deleteLater();
        openActiveData(content, QHostAddress::LocalHost);
    });
    foreign->connectToHost(m_portAddress, m_portPort);
}

void ScriptedFtpServer::openActiveData(const QByteArray& content, const QHostAddress& from) {
    auto* data = new QTcpSocket(&m_server);
    data->bind(from);
    QObject::connect(data, &QTcpSocket::connected, data,
                     [this, data, content] { sendData(data, content); });
    data->connectToHost(m_portAddress, m_portPort);
}

void ScriptedFtpServer::sendData(QTcpSocket* data, const QByteArray& content) {
    dataConnected = true;
    QObject::connect(data, &QTcpSocket::disconnected, data, [this, data] {
        data->deleteLater();
        finishData();
    });
    if (dataMode == DataMode::Reset)
        return resetData(data, content);
    if (dataMode == DataMode::Trickle)
        return trickleData(data, content);
    if (dataMode == DataMode::Stall) {
        data->write(content.left(content.size() / 2));
        return; // and nothing more, until the client gives up
    }
    if (dataMode != DataMode::Slow) {
        data->write(content);
        data->disconnectFromHost();
        return;
    }
    // Ten slices, 30 ms apart: the client waits between them.
    auto* timer = new QTimer(data);
    auto offset = std::make_shared<qsizetype>(0);
    const qsizetype slice = std::max<qsizetype>(1, content.size() / 10);
    QObject::connect(timer, &QTimer::timeout, data, [data, timer, content, offset, slice] {
        data->write(content.mid(*offset, slice));
        *offset += slice;
        if (*offset >= content.size()) {
            timer->stop();
            data->disconnectFromHost();
        }
    });
    timer->start(30);
}

// Half the data, then a reset once the client waits for more.
void ScriptedFtpServer::resetData(QTcpSocket* data, const QByteArray& content) {
    data->write(content.left(content.size() / 2));
    data->flush();
    QTimer::singleShot(100, data, [this, data] {
        const linger lg{1, 0};
        ::setsockopt(int(data->socketDescriptor()), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        data->disconnect();
        data->abort();
        data->deleteLater();
        finishData();
    });
}

void ScriptedFtpServer::trickleData(QTcpSocket* data, const QByteArray& content) {
    auto* timer = new QTimer(data);
    auto offset = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, data, [data, timer, content, offset] {
        data->write(content.mid((*offset)++, 1));
        if (*offset >= content.size()) {
            timer->stop();
            data->disconnectFromHost();
        }
    });
    timer->start(100);
}

void ScriptedFtpServer::finishData() {
    if (m_control)
        send(closingReply);
}
