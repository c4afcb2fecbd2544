#include "service/AlertMail.h"

#include "platform/Clock.h"

namespace {

// The longest wait between two tries, unless the relay's first wait is longer.
constexpr int kLongestWaitSeconds = 3600;

QString stateText(bool down) {
    return down ? QStringLiteral("no responde") : QStringLiteral("responde de nuevo");
}

QString clockText(const QDateTime& when) {
    return when.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

QueuedMail alertMail(const HealthAlert& alert, const QDateTime& raised) {
    QueuedMail mail;
    mail.ip = alert.ip;
    mail.desc = alert.desc;
    mail.loc = alert.loc;
    mail.down = alert.down;
    mail.raised = raised;
    mail.subject = (alert.down ? QStringLiteral("[KIVO ip] ALERTA: el punto %1 no responde")
                               : QStringLiteral("[KIVO ip] El punto %1 responde de nuevo"))
                       .arg(mailPointName(mail));
    mail.body =
        QStringLiteral("Punto: %1\nDescripción: %2\nLoc: %3\nEstado: %4\nMotivo: %5\n")
            .arg(alert.ip, alert.desc, alert.loc,
                 alert.down ? QStringLiteral("caído") : QStringLiteral("recuperado"), alert.reason);
    return mail;
}

AlertMail::AlertMail(StationReport& report, QObject* parent) : QObject(parent), m_report(report) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { dispatch(); });
}

AlertMail::~AlertMail() {
    if (m_attempt)
        m_attempt->wait();
}

void AlertMail::report(const QString& text) noexcept {
    try {
        m_report.statusText(text);
        m_report.logRow(text);
    } catch (const std::exception&) {
    }
}

QString AlertMail::relayName() const {
    return QStringLiteral("%1:%2").arg(m_relay.host).arg(m_relay.port);
}

void AlertMail::setRelay(const MailRelay& relay) {
    m_relay = relay;
    // A relay set anew (after a reload, say) is tried at once.
    m_failures = 0;
    m_retry.stop();
    if (m_kept)
        dispatch();
}

void AlertMail::keep(const QString& path) {
    MailQueue kept(path);
    for (const QueuedMail& mail : m_queue.takeAll())
        kept.add(mail);
    const QString problem = kept.load();
    if (!problem.isEmpty())
        report(QStringLiteral("AVISO: la cola de correos de alerta %1 no se puede leer (%2); se "
                              "empieza vacía")
                   .arg(path, problem));
    m_queue = kept;
    m_kept = true;
    if (!m_queue.isEmpty())
        report(QStringLiteral("AVISO: %1 correo(s) de alerta pendiente(s) en la cola; se intenta "
                              "enviarlos")
                   .arg(m_queue.size()));
    dispatch();
}

void AlertMail::send(const HealthAlert& alert) {
    if (m_relay.host.isEmpty())
        return;
    add(alertMail(alert, currentDateTime()));
    dispatch();
}

void AlertMail::add(const QueuedMail& mail) {
    const MailQueue::Added added = m_queue.add(mail);
    if (added.superseded)
        report(
            QStringLiteral("AVISO: el correo de alerta pendiente del punto %1 (%2) se descarta: "
                           "lo reemplaza el de ahora (%3)")
                .arg(mailPointName(mail), stateText(added.superseded->down), stateText(mail.down)));
    if (added.dropped)
        report(QStringLiteral("ERROR: el correo de alerta del punto %1 (%2, de %3) se descarta sin "
                              "enviar: la cola guarda a lo sumo %4")
                   .arg(mailPointName(*added.dropped), stateText(added.dropped->down),
                        added.dropped->raised.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")))
                   .arg(MailQueue::kMaxMails));
    if (m_retry.isActive())
        report(QStringLiteral("AVISO: el correo de alerta del punto %1 queda en cola detrás de %2 "
                              "correo(s)%3")
                   .arg(mailPointName(mail))
                   .arg(m_queue.size() - 1)
                   .arg(QStringLiteral("; nuevo intento a las ") + clockText(m_retryAt)));
    persist();
}

// The oldest mail goes to the relay, unless one is on its way or the queue
// waits after a failure.
void AlertMail::dispatch() {
    if (m_attempt || m_retry.isActive() || m_queue.isEmpty())
        return;
    if (m_relay.host.isEmpty())
        return giveUpEverything();
    attempt(m_queue.head());
}

void AlertMail::attempt(const QueuedMail& mail) {
    auto outcome = std::make_shared<MailOutcome>();
    m_attempt.reset(QThread::create([relay = m_relay, mail, outcome] {
        *outcome = sendMail(relay, mail.subject, mail.body, mail.raised);
    }));
    connect(m_attempt.get(), &QThread::finished, this, [this, mail, outcome] {
        m_attempt->wait();
        m_attempt.reset();
        attemptEnded(mail, *outcome);
    });
    m_attempt->start();
}

void AlertMail::attemptEnded(const QueuedMail& mail, const MailOutcome& outcome) {
    if (mail.attempts == 0)
        for (const QString& bad : outcome.refused)
            report(QStringLiteral("AVISO: la dirección de correo '%1' no es válida y se omite")
                       .arg(bad));
    const int attempt = mail.attempts + 1;
    if (outcome.sent) {
        m_failures = 0;
        m_queue.delivered(mail.serial);
        report(QStringLiteral("Correo de alerta del punto %1 enviado por %2%3")
                   .arg(mailPointName(mail), relayName(),
                        attempt > 1 ? QStringLiteral(" al intento %1").arg(attempt) : QString()));
    } else {
        // A mail superseded while it was on its way is no longer queued.
        const bool queued = m_queue.failed(mail.serial);
        waitAfterFailure();
        report(QStringLiteral("ERROR: no se pudo enviar el correo de alerta del punto %1 por %2 "
                              "(intento %3): %4; %5")
                   .arg(mailPointName(mail), relayName())
                   .arg(attempt)
                   .arg(outcome.error, queued
                                           ? QStringLiteral("sigue en cola, nuevo intento a las ") +
                                                 clockText(m_retryAt)
                                           : QStringLiteral("ya lo reemplazó otro")));
    }
    persist();
    dispatch();
}

// The first wait of the relay, doubled at each failure in a row, at most an
// hour (or the first wait, when that is longer).
void AlertMail::waitAfterFailure() {
    ++m_failures;
    const qint64 longest = std::max(kLongestWaitSeconds, m_relay.retrySeconds);
    qint64 seconds = m_relay.retrySeconds;
    for (int i = 1; i < m_failures && seconds < longest; ++i)
        seconds *= 2;
    seconds = std::min(seconds, longest);
    m_retryAt = currentDateTime().addSecs(seconds);
    m_retry.start(std::chrono::seconds(seconds));
}

void AlertMail::giveUpEverything() {
    const int count = m_queue.size();
    m_queue.takeAll();
    report(
        QStringLiteral("ERROR: %1 correo(s) de alerta pendiente(s) se descartan: no hay servidor "
                       "de correo (SmtpServidor)")
            .arg(count));
    persist();
}

void AlertMail::persist() {
    if (!m_kept)
        return;
    if (const QString problem = m_queue.save(); !problem.isEmpty())
        report(QStringLiteral("ERROR: no se puede guardar la cola de correos de alerta %1: %2")
                   .arg(m_queue.path(), problem));
}
