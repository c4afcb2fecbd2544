#include "collect/HealthSettings.h"

#include "collect/SettingsCodec.h"
#include "platform/Registry.h"

#include <QRegularExpression>

namespace {

// The names of the values in the settings key.
const QString kAlertFailures = QStringLiteral("AlertaFallos");
const QString kAlertHours = QStringLiteral("AlertaHoras");
const QString kBackOff = QStringLiteral("Espaciar");
const QString kRetry = QStringLiteral("Reintentar");

class Reader {
public:
    Reader(const TRegistry& registry, QStringList& problems) : r(registry), m_problems(problems) {}

    void integer(const QString& name, int& into, int low, int high) {
        if (!r.ValueExists(name))
            return;
        try {
            const int value = r.ReadInteger(name);
            if (value < low || value > high)
                m_problems << QStringLiteral("'%1' fuera de %2..%3").arg(name).arg(low).arg(high);
            else
                into = value;
        } catch (const std::exception&) {
            m_problems << QStringLiteral("'%1' no es un número").arg(name);
        }
    }
    void flag(const QString& name, bool& into) {
        int value = into ? 1 : 0;
        integer(name, value, 0, 1);
        into = value == 1;
    }
    void text(const QString& name, QString& into) {
        if (!r.ValueExists(name))
            return;
        try {
            into = r.ReadString(name).trimmed();
        } catch (const std::exception&) {
            m_problems << QStringLiteral("'%1' no es un texto").arg(name);
        }
    }

private:
    const TRegistry& r;
    QStringList& m_problems;
};

} // namespace

HealthSettings loadHealthSettings(const QString& serverAlias, QStringList& problems) {
    HealthSettings s;
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), false))
        return s;
    Reader read(registry, problems);
    read.integer(kAlertFailures, s.policy.alertFailures, 1, 1000);
    read.integer(kAlertHours, s.policy.alertHours, 1, 24 * 365);
    read.flag(kBackOff, s.policy.backOff);
    read.flag(kRetry, s.policy.retry);
    read.integer(QStringLiteral("RetencionDias"), s.retentionDays, 0, 36500);
    read.integer(QStringLiteral("AlertaSinBorrar"), s.policy.alertKeptVisits, 1, 1000);
    read.text(QStringLiteral("AlertaOrden"), s.command);
    read.integer(QStringLiteral("AlertaOrdenSeg"), s.commandTimeOutSeconds, 1, 3600);
    read.text(QStringLiteral("SmtpServidor"), s.mail.host);
    read.integer(QStringLiteral("SmtpPuerto"), s.mail.port, 1, 65535);
    read.flag(QStringLiteral("SmtpStartTLS"), s.mail.startTls);
    read.text(QStringLiteral("SmtpUsuario"), s.mail.user);
    read.text(QStringLiteral("SmtpClave"), s.mail.password);
    read.flag(QStringLiteral("SmtpClaveSinTLS"), s.mail.loginWithoutTls);
    read.text(QStringLiteral("SmtpCA"), s.mail.caFile);
    read.text(QStringLiteral("SmtpDe"), s.mail.from);
    QString to;
    read.text(QStringLiteral("SmtpPara"), to);
    for (const QString& address :
         to.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts))
        s.mail.to << address;
    read.integer(QStringLiteral("SmtpSeg"), s.mail.timeOutSeconds, 1, 600);
    read.integer(QStringLiteral("SmtpReintentoSeg"), s.mail.retrySeconds, 1, 3600);
    registry.CloseKey();
    return s;
}

void saveHealthPolicy(const QString& serverAlias, const HealthPolicy& policy) {
    TRegistry registry;
    if (!registry.OpenKey(settingsKey(serverAlias), true))
        throw ERegistryException(
            QStringLiteral("Cannot open the settings key '%1'").arg(settingsKey(serverAlias)));
    registry.BeginUpdate();
    registry.WriteInteger(kAlertFailures, policy.alertFailures);
    registry.WriteInteger(kAlertHours, policy.alertHours);
    registry.WriteInteger(kBackOff, policy.backOff ? 1 : 0);
    registry.WriteInteger(kRetry, policy.retry ? 1 : 0);
    registry.EndUpdate();
    registry.CloseKey();
}
