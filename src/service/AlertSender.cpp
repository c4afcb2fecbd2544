#include "service/AlertSender.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

namespace {
// What is kept of the command's output for the log; the rest is read and dropped.
constexpr qsizetype kOutputKept = 500;
} // namespace

QStringList alertEnvironment(const HealthAlert& alert) {
    return {QStringLiteral("KIVO_ALERT=") +
                (alert.down ? QStringLiteral("down") : QStringLiteral("up")),
            QStringLiteral("KIVO_POINT_IP=") + alert.ip,
            QStringLiteral("KIVO_POINT_DESC=") + alert.desc,
            QStringLiteral("KIVO_POINT_LOC=") + alert.loc,
            QStringLiteral("KIVO_REASON=") + alert.reason};
}

AlertSender::AlertSender(StationReport& report, QObject* parent)
    : QObject(parent), m_report(report) {}

void AlertSender::setSettings(const HealthSettings& settings) {
    m_settings = settings;
    m_mail.setRelay(settings.mail);
}

void AlertSender::report(const QString& text) noexcept {
    try {
        m_report.statusText(text);
        m_report.logRow(text);
    } catch (const std::exception&) {
    }
}

void AlertSender::send(const HealthAlert& alert) {
    if (!m_settings.command.isEmpty())
        runCommand(alert);
    m_mail.send(alert);
}

// Through the shell, so that the operator may write a pipeline. Its output is
// drained as it comes, so a flood neither blocks it nor fills the memory.
void AlertSender::runCommand(const HealthAlert& alert) {
    auto* process = new QProcess(this);
    auto output = std::make_shared<QByteArray>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : alertEnvironment(alert)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyRead, process, [process, output] {
        const QByteArray bytes = process->readAll();
        if (output->size() < kOutputKept)
            output->append(bytes.left(kOutputKept - output->size()));
    });
    auto* limit = new QTimer(process);
    limit->setSingleShot(true);
    limit->setInterval(m_settings.commandTimeOutSeconds * 1000);
    connect(limit, &QTimer::timeout, process, [process] { process->kill(); });
    connect(process, &QProcess::finished, this,
            [this, process, output, limit](int code, QProcess::ExitStatus status) {
                const QString said = QString::fromUtf8(*output).simplified().left(200);
                QString why;
                if (status == QProcess::CrashExit)
                    why = limit->isActive() ? QStringLiteral("terminó de forma anormal")
                                            : QStringLiteral("no terminó a tiempo y se detuvo");
                else if (code == 127)
                    why = QStringLiteral("no existe");
                else if (code != 0)
                    why = QStringLiteral("terminó con el código %1").arg(code);
                commandEnded(process, why.isEmpty()
                                          ? QString()
                                          : why + (said.isEmpty() ? QString()
                                                                  : QStringLiteral(": ") + said));
            });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            commandEnded(process, QStringLiteral("no se pudo iniciar: ") + process->errorString());
    });
    ++m_commands;
    process->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), m_settings.command});
    limit->start();
}

void AlertSender::commandEnded(QProcess* process, const QString& why) {
    --m_commands;
    process->disconnect(this);
    process->deleteLater();
    if (!why.isEmpty())
        report(QStringLiteral("ERROR: la orden de alerta %1").arg(why));
}
