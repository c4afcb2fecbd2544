#pragma once

#include "collect/PointTransfer.h"
#include "collect/PushSlots.h"

#include <QList>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class QThread;

// A text a fetch said on its own thread, said again on the owner's thread
// when the owner takes the fetch: a memo text or a log row.
struct SaidText {
    bool memo = true;
    QString text;
};

// Fetches side by side: a number of slots, each a thread with an event loop,
// an FTP client, a socket component and a folder of its own for the local
// copies. Waits on one event loop would nest, so that a point that never
// answers would hold every other; each slot's waits pump its own loop.
//
// A slot's point goes through three steps, each asked by the owner once the
// previous one has been told: the fetch (the log-in, the two downloads, the
// count read again when needed; told by onFetched, the connection left
// open), then, over the slot's link, the delete when the run allows it
// (the owner waits for it), and last the goodbye and the push (told by
// onPushed; the slot is free again). Everything comes back to the owner's
// thread as queued calls; status texts and transfer progress as they happen.
class FetchSlots : public QObject {
    Q_OBJECT
public:
    // options: the FTP client whose log-in and options the slots copy;
    // folder: where each slot's folder is made.
    FetchSlots(int slotCount, const TFtpClient& options, const QString& folder,
               QObject* parent = nullptr);
    // Halts what is in progress and waits for the threads.
    ~FetchSlots() override;

    int freeSlot() const; // -1: none
    int inProgress() const;
    // Fetches the point in the given free slot.
    void fetch(int slot, const PushTarget& point, int timeOutMs, int goodbyeMs);
    // The slot's connection, between onFetched and push.
    PointLink& link(int slot);
    // The goodbye, then the message pushed to the point (none: not pushed,
    // told as failed). The slot is free once onPushed is told.
    void push(int slot, const std::optional<QByteArray>& message, int timeOutMs);
    // The waits in progress end at once, for good: a program that stops does
    // not wait out a silent point's time-out.
    void halt();

    std::function<void(int slot, const FetchedFiles&, const QList<SaidText>&)> onFetched;
    std::function<void(int slot, bool ok)> onPushed;
    std::function<void(const QString&)> onStatus;
    std::function<void(const TransferProgress&)> onTransfer;
    std::function<void(const QString&)> onError; // an error the slot's work showed

    class Slot; // one slot's thread and what lives there

private:
    std::vector<std::unique_ptr<Slot>> m_slots;
};
