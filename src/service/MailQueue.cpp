#include "service/MailQueue.h"

#include "platform/TextCodec.h"
#include "store/Aliases.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QJsonObject toJson(const QueuedMail& mail) {
    return {{QStringLiteral("ip"), mail.ip},
            {QStringLiteral("desc"), mail.desc},
            {QStringLiteral("loc"), mail.loc},
            {QStringLiteral("caido"), mail.down},
            {QStringLiteral("asunto"), mail.subject},
            {QStringLiteral("texto"), mail.body},
            {QStringLiteral("fecha"), mail.raised.toString(Qt::ISODateWithMs)},
            {QStringLiteral("intentos"), mail.attempts}};
}

std::optional<QueuedMail> fromJson(const QJsonValue& value) {
    const QJsonObject o = value.toObject();
    QueuedMail mail;
    mail.ip = o.value(QStringLiteral("ip")).toString();
    mail.desc = o.value(QStringLiteral("desc")).toString();
    mail.loc = o.value(QStringLiteral("loc")).toString();
    mail.down = o.value(QStringLiteral("caido")).toBool(true);
    mail.subject = o.value(QStringLiteral("asunto")).toString();
    mail.body = o.value(QStringLiteral("texto")).toString();
    mail.raised = QDateTime::fromString(o.value(QStringLiteral("fecha")).toString(), Qt::ISODate);
    mail.attempts = o.value(QStringLiteral("intentos")).toInt();
    if (mail.ip.isEmpty() || mail.subject.isEmpty() || !mail.raised.isValid())
        return std::nullopt;
    return mail;
}

} // namespace

QString mailPointName(const QueuedMail& mail) {
    return QStringLiteral("%1 (%2, Loc %3)").arg(mail.ip, mail.desc, mail.loc);
}

QString MailQueue::defaultPath() {
    return AliasConfig::dataDirectory() + QStringLiteral("/mail-queue.json");
}

QString MailQueue::load() {
    QFile file(m_path);
    if (m_path.isEmpty() || !file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        return error.errorString();
    QList<QueuedMail> loaded;
    for (const QJsonValue& value : document.object().value(QStringLiteral("correos")).toArray()) {
        const std::optional<QueuedMail> mail = fromJson(value);
        if (!mail)
            return QStringLiteral("un correo sin punto, asunto o fecha");
        loaded << *mail;
    }
    // Mails queued before the file was read are the later ones.
    for (const QueuedMail& mail : std::as_const(m_mails))
        loaded << mail;
    m_mails.clear();
    for (const QueuedMail& mail : std::as_const(loaded))
        add(mail);
    return {};
}

QString MailQueue::save() const {
    if (m_path.isEmpty())
        return {};
    QJsonArray mails;
    for (const QueuedMail& mail : m_mails)
        mails << toJson(mail);
    QSaveFile file(m_path);
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("correos"), mails}})
                                 .toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !commitSaveFile(file))
        return file.errorString();
    return {};
}

MailQueue::Added MailQueue::add(const QueuedMail& mail) {
    Added added;
    for (qsizetype i = 0; i < m_mails.size(); ++i)
        if (m_mails[i].ip == mail.ip) {
            added.superseded = m_mails.takeAt(i);
            break;
        }
    if (m_mails.size() >= kMaxMails)
        added.dropped = m_mails.takeFirst();
    m_mails << mail;
    m_mails.last().serial = ++m_serials;
    return added;
}

qsizetype MailQueue::indexOf(quint64 serial) const {
    for (qsizetype i = 0; i < m_mails.size(); ++i)
        if (m_mails[i].serial == serial)
            return i;
    return -1;
}

bool MailQueue::delivered(quint64 serial) {
    const qsizetype i = indexOf(serial);
    if (i >= 0)
        m_mails.removeAt(i);
    return i >= 0;
}

bool MailQueue::failed(quint64 serial) {
    const qsizetype i = indexOf(serial);
    if (i < 0)
        return false;
    QueuedMail mail = m_mails.takeAt(i);
    ++mail.attempts;
    m_mails << mail;
    return true;
}

QList<QueuedMail> MailQueue::takeAll() {
    return std::exchange(m_mails, {});
}
