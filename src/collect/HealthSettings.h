#pragma once

#include "collect/PointHealth.h"

#include <QString>
#include <QStringList>

// Where an alert e-mail goes: an SMTP relay, with STARTTLS and a login when
// it asks for them.
struct MailRelay {
    QString host; // empty: no e-mail
    int port = 25;
    bool startTls = false;
    QString user, password;
    QString from;
    QStringList to;
    int timeOutSeconds = 30;
};

// The health and alert settings, kept beside the station's others in the
// settings key of the server alias.
struct HealthSettings {
    HealthPolicy policy;
    QString command;                // run at each alert and notice; empty: none
    int commandTimeOutSeconds = 30; // it is stopped past this
    MailRelay mail;
    int retentionDays = 0; // log rows and run journal rows older are pruned daily; 0: kept
};

// Reads them; an absent value keeps its default, and a value that cannot be
// read or is out of range keeps it too and is named in problems. Never raises.
HealthSettings loadHealthSettings(const QString& serverAlias, QStringList& problems);
// Writes the four settings of the window (the alert thresholds, back-off and
// retry); raises ERegistryException.
void saveHealthPolicy(const QString& serverAlias, const HealthPolicy& policy);
