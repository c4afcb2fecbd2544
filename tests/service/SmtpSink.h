#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// How the sink behaves: the login it requires (also in clear), STARTTLS with
// a certificate and its key, a port of the test's choosing.
struct SmtpSinkOptions {
    QString login; // USER:PASSWORD
    QString certificate, key;
    int port = 0; // 0: a free one
};

// aiosmtpd on loopback for the life of the object; what it receives lands in dir.
class SmtpSink {
public:
    explicit SmtpSink(const SmtpSinkOptions& options = {}) {
        QStringList args{QStringLiteral(KIVO_SOURCE_DIR "/tests/service/smtp_sink.py"),
                         m_dir.path()};
        if (!options.login.isEmpty())
            args << QStringLiteral("--login") << options.login;
        if (!options.certificate.isEmpty())
            args << QStringLiteral("--tls") << options.certificate << options.key;
        if (options.port)
            args << QStringLiteral("--port") << QString::number(options.port);
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
    // Each greeting and login it was given: "ehlo NAME", "auth tls|clear USER".
    QStringList sessions() const {
        QFile f(m_dir.filePath(QStringLiteral("sessions.log")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    int port = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};
