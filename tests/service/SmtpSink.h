#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// aiosmtpd on loopback for the life of the object; what it receives lands in dir.
class SmtpSink {
public:
    explicit SmtpSink(const QString& login = {}) {
        QStringList args{QStringLiteral(KIVO_SOURCE_DIR "/tests/service/smtp_sink.py"),
                         m_dir.path()};
        if (!login.isEmpty())
            args << QStringLiteral("--login") << login;
        m_process.start(QStringLiteral("/usr/bin/python3"), args);
        if (m_process.waitForReadyRead(20000))
            port = m_process.readLine().trimmed().toInt();
    }
    ~SmtpSink() {
        m_process.kill();
        m_process.waitForFinished();
    }
    QStringList messages() const {
        QStringList out;
        for (const QString& name : QDir(m_dir.path()).entryList({QStringLiteral("*.eml")}))
            if (QFile f(m_dir.filePath(name)); f.open(QIODevice::ReadOnly))
                out << QString::fromUtf8(f.readAll());
        return out;
    }
    int port = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};
