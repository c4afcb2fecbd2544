#include "collect/FetchSlots.h"

#include "collect/ParamPush.h"
#include "collect/PointClients.h"
#include "collect/Ticket.h"
#include "store/OffLoop.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

namespace {

// What a slot's FTP client takes over from the station's own.
struct FtpOptions {
    QString user, password, proxy;
    bool passive = false;
    int proxyPort = 0;
};

FtpOptions optionsOf(const TFtpClient& ftp) {
    return {ftp.UserID, ftp.Password, ftp.Proxy, ftp.Passive, ftp.ProxyPort};
}

// A fetch's texts: the memo's and the log's held until the owner takes the
// fetch, the status line and the progress passed on as they happen.
class HeldReport : public StationReport {
public:
    explicit HeldReport(FetchSlots& owner) : m_owner(owner) {}
    void memoAppend(const QString& text) override { said << SaidText{true, text}; }
    void memoClear() override {}
    void logRow(const QString& text, std::optional<int>) override { said << SaidText{false, text}; }
    void statusText(const QString& text) override {
        QMetaObject::invokeMethod(
            &m_owner,
            [owner = &m_owner, text] { owner->onStatus ? owner->onStatus(text) : void(); },
            Qt::QueuedConnection);
    }
    void transfer(const TransferProgress& progress) override {
        QMetaObject::invokeMethod(
            &m_owner,
            [owner = &m_owner, progress] {
                owner->onTransfer ? owner->onTransfer(progress) : void();
            },
            Qt::QueuedConnection);
    }
    void showError(const std::exception& error) override {
        QMetaObject::invokeMethod(
            &m_owner,
            [owner = &m_owner, text = QString::fromUtf8(error.what())] {
                owner->onError ? owner->onError(text) : void();
            },
            Qt::QueuedConnection);
    }

    QList<SaidText> said;

private:
    FetchSlots& m_owner;
};

} // namespace

// One slot: its thread runs an event loop with the slot's clients on its
// stack; the owner reaches them only by queued calls to `here`, while it is
// there.
class FetchSlots::Slot : public PointLink {
public:
    Slot(FetchSlots& owner, int index, const FtpOptions& options, const QString& folder)
        : m_owner(owner), m_index(index), m_options(options), m_folder(folder) {
        QDir().mkpath(m_folder);
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->setObjectName(QStringLiteral("fetch"));
        m_thread->start(); // ready by the time it is first asked for something
    }

    ~Slot() override {
        halt();
        post([this] { m_loop->quit(); });
        m_thread->wait();
    }

    bool busy = false; // on the owner's thread: between fetch and onPushed

    void fetch(const PushTarget& point, int timeOutMs, int goodbyeMs) {
        busy = true;
        m_point = point;
        m_recount = -1;
        post([this, point, timeOutMs, goodbyeMs] {
            QFile::remove(m_transfer->countFile());
            QFile::remove(m_transfer->recordFile());
            m_report->said.clear();
            const FetchedFiles files =
                m_transfer->fetch(point.ip, point.desc, timeOutMs, goodbyeMs);
            const QList<SaidText> said = m_report->said;
            m_report->said.clear();
            QMetaObject::invokeMethod(
                &m_owner,
                [this, files, said] {
                    m_recount = files.recount;
                    if (m_owner.onFetched)
                        m_owner.onFetched(m_index, files, said);
                },
                Qt::QueuedConnection);
        });
    }

    void push(const std::optional<QByteArray>& message, int timeOutMs) {
        post([this, message, timeOutMs, ip = m_point.ip] {
            m_transfer->disconnectQuietly();
            m_ftp->CloseSocket();
            bool ok = false;
            if (message && !halted()) {
                m_sock->TimeOut = timeOutMs;
                try {
                    ok = sendParamMessage(*m_sock, ip, *message) && !m_sock->Halted();
                } catch (...) {
                    ok = false;
                }
            }
            QMetaObject::invokeMethod(
                &m_owner,
                [this, ok] {
                    busy = false;
                    if (m_owner.onPushed)
                        m_owner.onPushed(m_index, ok);
                },
                Qt::QueuedConnection);
        });
    }

    // The count was read again on the slot's thread, when the files needed it.
    int countAgain() override { return m_recount; }

    // The owner waits, serving its own loop, for the slot's answer.
    bool sendDelete() override {
        if (halted())
            return false;
        bool confirmed = false;
        QEventLoop wait;
        post([this, &confirmed, &wait] {
            const bool ok = m_transfer->sendDelete();
            QMetaObject::invokeMethod(
                &m_owner,
                [&confirmed, &wait, ok] {
                    confirmed = ok;
                    wait.quit();
                },
                Qt::QueuedConnection);
        });
        wait.exec();
        return confirmed;
    }

    // The goodbye goes with the push, the slot's next step.
    void letGo() override {}

    void halt() {
        const QMutexLocker lock(&m_mutex);
        m_halted = true;
        if (m_here)
            QMetaObject::invokeMethod(
                m_here,
                [ftp = m_ftp, sock = m_sock] {
                    ftp->Halt();
                    sock->Halt();
                },
                Qt::QueuedConnection);
    }

private:
    bool halted() {
        const QMutexLocker lock(&m_mutex);
        return m_halted;
    }

    template <typename Call> void post(Call&& call) {
        if (!m_started) {
            m_ready.acquire();
            m_started = true;
        }
        QMetaObject::invokeMethod(m_here, std::forward<Call>(call), Qt::QueuedConnection);
    }

    // On the slot's thread.
    void run() {
        putBehindTheEventLoop(); // sixteen transfers must not starve the window
        TFtpClient ftp;
        TTcpSock sock;
        setUpPointClients(ftp, sock);
        ftp.UserID = m_options.user;
        ftp.Password = m_options.password;
        ftp.Passive = m_options.passive;
        ftp.Proxy = m_options.proxy;
        ftp.ProxyPort = m_options.proxyPort;
        HeldReport report(m_owner);
        PointTransfer transfer(ftp, report, m_folder);
        QObject here;
        QEventLoop loop;
        {
            const QMutexLocker lock(&m_mutex);
            m_here = &here;
            m_ftp = &ftp;
            m_sock = &sock;
            m_report = &report;
            m_transfer = &transfer;
            m_loop = &loop;
            if (m_halted) {
                ftp.Halt();
                sock.Halt();
            }
        }
        m_ready.release();
        loop.exec();
        const QMutexLocker lock(&m_mutex);
        m_here = nullptr; // a halt queued to it goes with it
    }

    FetchSlots& m_owner;
    const int m_index;
    const FtpOptions m_options;
    const QString m_folder;
    std::unique_ptr<QThread> m_thread;
    QSemaphore m_ready;
    bool m_started = false; // on the owner's thread: the slot's loop has been seen running
    QMutex m_mutex;
    bool m_halted = false;
    // The slot's thread's objects, there while its loop runs.
    QObject* m_here = nullptr;
    TFtpClient* m_ftp = nullptr;
    TTcpSock* m_sock = nullptr;
    HeldReport* m_report = nullptr;
    PointTransfer* m_transfer = nullptr;
    QEventLoop* m_loop = nullptr;
    // On the owner's thread.
    PushTarget m_point;
    int m_recount = -1;
};

FetchSlots::FetchSlots(int slotCount, const TFtpClient& options, const QString& folder,
                       QObject* parent)
    : QObject(parent) {
    const FtpOptions copied = optionsOf(options);
    for (int i = 0; i < slotCount; ++i)
        m_slots.push_back(std::make_unique<Slot>(*this, i, copied,
                                                 QDir(folder).filePath(QString::number(i + 1))));
}

FetchSlots::~FetchSlots() {
    halt();
    m_slots.clear();
}

int FetchSlots::freeSlot() const {
    for (size_t i = 0; i < m_slots.size(); ++i)
        if (!m_slots[i]->busy)
            return int(i);
    return -1;
}

int FetchSlots::inProgress() const {
    return int(std::count_if(m_slots.begin(), m_slots.end(),
                             [](const std::unique_ptr<Slot>& s) { return s->busy; }));
}

void FetchSlots::fetch(int slot, const PushTarget& point, int timeOutMs, int goodbyeMs) {
    m_slots.at(slot)->fetch(point, timeOutMs, goodbyeMs);
}

PointLink& FetchSlots::link(int slot) {
    return *m_slots.at(slot);
}

void FetchSlots::push(int slot, const std::optional<QByteArray>& message, int timeOutMs) {
    m_slots.at(slot)->push(message, timeOutMs);
}

void FetchSlots::halt() {
    for (const std::unique_ptr<Slot>& slot : m_slots)
        slot->halt();
}
