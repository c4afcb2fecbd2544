#pragma once

#include "collect/PointHealth.h"

#include <QString>
#include <QStringList>

// Where an alert e-mail goes: an SMTP relay, with STARTTLS whenever it offers
// it and a login when it asks for one.
struct MailRelay {
    QString host; // empty: no e-mail
    int port = 25;
    bool startTls = false; // STARTTLS required, not only taken when offered
    QString user, password;
    bool loginWithoutTls = false; // the login may go out over a connection in clear
    QString caFile; // the certificates the relay's is checked against; empty: the system's
    QString from;
    QStringList to;
    int timeOutSeconds = 30;
    int retrySeconds = 60; // the first wait before an undelivered mail is tried again
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
