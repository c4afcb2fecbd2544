#pragma once

#include "collect/ParamMessage.h"
#include "collect/PointRun.h"

#include <optional>

// The push of the personnel entitled to taxi service and the cost centres to
// one point: the two lists read, made into one message with its CRC-16
// (parameterMessage), and sent to the point's parameter port.
class ParamPush {
public:
    explicit ParamPush(PointRun& run);

    // Reports its own failures; a push that fails turns a good visit into a
    // failed one.
    void push(const QString& IP, const QString& Desc, const QString& Loc);
    // Whether the last push handed the whole message to the point.
    bool lastPushOk() const { return m_pushOk; }

private:
    bool readLists(QList<PersonEntry>& people, QList<CecoEntry>& cecos);
    std::optional<PersonEntry> personOfRow();
    bool send(const QString& IP, const QByteArray& message);

    PointRun& m_run;
    const PointSetup& m;
    bool m_pushOk = false;
    TQuery qPersonal, qCeco;
};
