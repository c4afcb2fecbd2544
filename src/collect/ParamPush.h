#pragma once

#include "collect/ParamMessage.h"
#include "collect/PointRun.h"

#include <optional>

// The push of the personnel entitled to taxi service and the cost centres to
// one point: the two lists read, made into one message with its CRC-16
// (parameterMessage), and sent to the point's parameter port.
// Connects to the point's parameter port, sends the message in one operation
// and disconnects; the point's answer is not read. False when it could not be
// handed over.
bool sendParamMessage(TTcpSock& sock, const QString& IP, const QByteArray& message);

class ParamPush {
public:
    explicit ParamPush(PointRun& run);

    // Reports its own failures; a push that fails turns a good visit into a
    // failed one.
    void push(const QString& IP, const QString& Desc, const QString& Loc);
    // The push not tried in this cycle (the point could not be reached),
    // reported as a failed one.
    void skip(const QString& Desc, const QString& Loc);
    // Whether the last push handed the whole message to the point.
    bool lastPushOk() const { return m_pushOk; }
    // The message of the two lists; none, and nothing said, when a list
    // cannot be read or is too long.
    std::optional<QByteArray> message();

private:
    bool readLists(QList<PersonEntry>& people, QList<CecoEntry>& cecos, bool quiet = false);
    std::optional<PersonEntry> personOfRow();
    bool send(const QString& IP, const QByteArray& message);
    void finish(bool ok, const QString& Loc);

    PointRun& m_run;
    const PointSetup& m;
    bool m_pushOk = false;
    TQuery qPersonal, qCeco;
};
