#pragma once

#include <QProcess>
#include <QString>

// Runs tools/sim/ftp_peer.py on a free loopback port for the life of the object.
class PeerProcess {
public:
    PeerProcess(const QString& root, const QString& user, const QString& password) {
        const QString script = sourceDir() + QStringLiteral("/tools/sim/ftp_peer.py");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {script, QStringLiteral("--root"), root, QStringLiteral("--port"),
                         QStringLiteral("0"), QStringLiteral("--user"), user,
                         QStringLiteral("--password"), password});
        if (!m_process.waitForStarted(10000))
            return;
        while (m_process.state() == QProcess::Running && !m_process.canReadLine())
            m_process.waitForReadyRead(10000);
        const QList<QByteArray> ready = m_process.readLine().trimmed().split(' ');
        if (ready.size() == 3 && ready.at(0) == "READY")
            m_port = ready.at(2).toInt();
    }
    ~PeerProcess() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    int port() const { return m_port; } // 0 when the peer did not start

    static QString sourceDir() {
        const QString fromEnv = qEnvironmentVariable("KIVO_SOURCE_DIR");
        return fromEnv.isEmpty() ? QStringLiteral(KIVO_SOURCE_DIR) : fromEnv;
    }

private:
    QProcess m_process;
    int m_port = 0;
};
