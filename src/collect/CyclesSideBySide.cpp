// The cycles above one point at once: the points of a cycle side by side,
// each on a slot of its own (FetchSlots, PushSlots).
#include "collect/Cycles.h"

#include "collect/PointHealth.h"
#include "collect/PushSlots.h"
#include "collect/StationReport.h"
#include "net/SockErrors.h"
#include "platform/Errors.h"

#include <QDir>
#include <QSet>

// Above one point at once the lists are read once and pushed to the active
// points side by side, each point's memo line and log row said as its push
// ends. Lists that cannot be read leave the cycle to the steps, where each
// point says its own failure.
bool CollectionCycles::syncSideBySide() {
    const int atOnce = m_work.pointsAtOnce();
    if (atOnce <= 1)
        return false;
    const std::optional<ParamBatch> batch = m_work.paramBatch();
    if (!batch)
        return false;
    const QList<PushTarget> targets = activeTargets(
        QStringLiteral("    - Sinc %1... repetido: %2 ya se sincroniza en este ciclo"));
    m_pushSlots = std::make_unique<PushSlots>();
    m_pushSlots->onStarted = [this](const PushTarget& t) {
        const PointVisit starting{t.ip, t.desc, t.loc, {}};
        tell([&](CycleObserver& o) { o.pointStarted(starting); });
        pointsInProgress();
    };
    m_pushSlots->onPushed = [this](const PushTarget& t, bool ok) { pushed(t, ok); };
    m_pushSlots->onDone = [this] { m_timers.syncEndTimer.start(); };
    m_pushSlots->start(targets, batch->message, atOnce, batch->timeOutMs);
    return true;
}

// A point listed twice is visited once, and the memo says so at its second
// row (repeated: %1 its description, %2 its address).
QList<PushTarget> CollectionCycles::activeTargets(const QString& repeated) noexcept {
    QList<PushTarget> targets;
    QSet<QString> listed;
    do {
        PointRow row;
        if (!currentRow(row))
            continue;
        if (listed.contains(row.ip)) {
            guard([&] { memoLine(repeated.arg(row.desc, row.ip)); });
            continue;
        }
        listed << row.ip;
        targets << PushTarget{row.ip, row.desc, row.loc};
    } while (nextRow());
    return targets;
}

void CollectionCycles::pushed(const PushTarget& t, bool ok) noexcept {
    if (m_stopping && !ok)
        return; // cut short by the stop: no failure of the point's
    guard([&] {
        m_report.memoAppend(QStringLiteral("    - Sinc ") + t.desc + QStringLiteral("...") +
                            (ok ? QStringLiteral(" OK.\r\n") : QStringLiteral(" FALLO\r\n")));
        m_report.logRow(t.loc +
                        (ok ? QStringLiteral(": Sinc. OK") : QStringLiteral(": Sinc. FALLO")));
    });
    const ListsPush push{t.ip, t.desc, t.loc, ok};
    tell([&](CycleObserver& o) { o.listsPushed(push); });
    pointsInProgress();
}

void CollectionCycles::pointsInProgress() noexcept {
    guard([this] {
        if (m_pushSlots)
            m_report.statusText(
                QStringLiteral("Sinc: %1 punto(s) en curso").arg(m_pushSlots->inProgress()));
        else if (m_fetchSlots)
            m_report.statusText(
                QStringLiteral("FTP: %1 punto(s) en curso").arg(m_fetchSlots->inProgress()));
    });
}

// --- download cycle side by side ---

// The points are fetched side by side, each by a slot's own FTP client into
// the slot's own folder; their runs are stored one at a time, on this
// thread, in the order the fetches finished: the files are moved into the
// working directory, the run started and saved, the point asked to delete
// over its slot's connection, the run stored. Only then does the slot say
// goodbye, push the lists and take the next point. Lists that cannot be read
// leave the cycle to the steps, one point at a time.
bool CollectionCycles::downloadSideBySide() {
    const int atOnce = m_work.pointsAtOnce();
    const TFtpClient* options = m_work.fetchOptions();
    if (atOnce <= 1 || !options)
        return false;
    const std::optional<ParamBatch> batch = m_work.paramBatch();
    if (!batch)
        return false;
    m_batch = *batch;
    m_toFetch = activeTargets(QStringLiteral("   %1... repetido: %2 ya se descarga en este ciclo"));
    m_inSlot.clear();
    m_fetched.clear();
    m_pushed.clear();
    m_slotsEnding = false;
    m_fetchSlots = std::make_unique<FetchSlots>(atOnce, *options,
                                                QDir::current().filePath(QStringLiteral("slots")));
    m_fetchSlots->onFetched = [this](int slot, const FetchedFiles& files,
                                     const QList<SaidText>& said) {
        m_fetched << Fetched{slot, files, said};
        pumpSoon();
    };
    m_fetchSlots->onPushed = [this](int slot, bool ok) {
        m_pushed << std::pair{slot, ok};
        pumpSoon();
    };
    // A slot's status or transfer says which point it is about; the count of
    // the points in progress follows it.
    m_fetchSlots->onStatus = [this](const QString& text) {
        guard([&] { m_report.statusText(withPointsInProgress(text)); });
    };
    m_fetchSlots->onTransfer = [this](const TransferProgress& progress) {
        guard([&] { m_report.statusText(withPointsInProgress(transferStatusText(progress))); });
    };
    m_fetchSlots->onError = [this](const QString& text) {
        guard([&] { m_report.showError(Exception(text)); });
    };
    pumpSoon();
    return true;
}

// The one place the cycle moves on: says what was pushed, starts what may
// start, stores what was fetched, and ends the cycle when nothing is left.
// One thing per turn, the next turn a timer's, so that the ticks that fall
// due between them come on time. Storing serves the event loop meanwhile,
// and what the slots tell then only waits in a list: a run never starts
// inside another, and no line of one point's lands inside another's.
void CollectionCycles::pumpSlots() noexcept {
    if (m_pumping || !m_fetchSlots || m_slotsEnding)
        return;
    m_pumping = true;
    // A free slot takes its next point before a fetched run is stored, so
    // that the slots stay busy while the runs wait their turn.
    bool moved = true;
    if (!m_pushed.isEmpty()) {
        const auto [slot, ok] = m_pushed.takeFirst();
        fetchPushed(slot, ok);
    } else if (startNextFetch()) {
        // a point started, passed over, or failed at its start
    } else if (!m_fetched.isEmpty()) {
        const Fetched next = m_fetched.takeFirst();
        storeFetched(next.slot, next.files, next.said);
    } else
        moved = false;
    m_pumping = false;
    if (moved)
        pumpSoon();
    else if (m_fetchSlots->inProgress() == 0) {
        m_slotsEnding = true;
        m_timers.downloadEndTimer.start();
    }
}

QString CollectionCycles::withPointsInProgress(const QString& text) const {
    return QStringLiteral("%1 - %2 punto(s) en curso").arg(text).arg(m_fetchSlots->inProgress());
}

// What the slots tell only asks for a turn: ten fetches that end together
// are ten turns, with the loop's timers between them.
void CollectionCycles::pumpSoon() {
    if (!m_pumpTurn.isActive())
        m_pumpTurn.start();
}

// False when no point may start now.
bool CollectionCycles::startNextFetch() noexcept {
    const int slot = m_fetchSlots->freeSlot();
    if (m_cancel || slot < 0)
        return false;
    // After the last row, the points that failed for a reset or a time-out,
    // or that another station was collecting, get their one more try.
    if (m_toFetch.isEmpty() && !m_retryPhase && !m_retries.isEmpty() &&
        m_fetchSlots->inProgress() == 0) {
        m_toFetch = std::exchange(m_retries, {});
        m_retryPhase = true;
    }
    if (m_toFetch.isEmpty())
        return false;
    SlotPoint point{m_toFetch.takeFirst(), m_retryPhase, {}, {}, true};
    if (!point.retry && !dueNow(point.row))
        return true;
    const PointVisit starting{point.row.ip, point.row.desc, point.row.loc, {}};
    tell([&](CycleObserver& o) { o.pointStarted(starting); });
    bool fetch = false;
    try {
        fetch = m_work.beginFetch(point.row.ip, point.row.desc, m_output, point.lease);
    } catch (const std::exception& error) {
        pointFailed(false, error);
        recordOutcome(point.row, PointOutcome{true, false, QString::fromUtf8(error.what())},
                      point.retry);
        return true;
    }
    if (!fetch) {
        recordOutcome(point.row, m_work.outcome(), point.retry);
        return true;
    }
    m_inSlot.insert(slot, point);
    m_fetchSlots->fetch(slot, point.row, m_work.ftpTimeOutMs(), kGoodbyeAfterTimeOutMs);
    pointsInProgress();
    return true;
}

// A point the fetch could not reach gets no push in this cycle; one whose
// storing ended in an error gets none either, as one at a time.
void CollectionCycles::storeFetched(int slot, const FetchedFiles& files,
                                    const QList<SaidText>& said) noexcept {
    SlotPoint& point = m_inSlot[slot];
    // A program that stops neither stores nor says what its stop cut short.
    if (m_stopping) {
        point.pushTold = false;
        guard([&] { m_work.dropFetched(point.lease); });
        m_fetchSlots->push(slot, std::nullopt, m_batch.timeOutMs);
        return;
    }
    guard([&] {
        for (const SaidText& text : said)
            text.memo ? m_report.memoAppend(text.text) : m_report.logRow(text.text);
    });
    bool push = !(files.failure && files.failure->unreached);
    try {
        m_work.storeFetched(point.row.ip, point.row.loc, point.lease, m_output, files,
                            m_fetchSlots->link(slot));
        point.outcome = m_work.outcome();
    } catch (const std::exception& error) {
        push = false;
        point.pushTold = false;
        if (!(m_stopping && cutShort(error))) {
            pointFailed(true, error);
            point.outcome = PointOutcome{true, false, QString::fromUtf8(error.what())};
        }
    } catch (...) {
        push = false;
        point.pushTold = false;
        pointFailed(true, Exception(QStringLiteral("Unknown error")));
        point.outcome = PointOutcome{true, false, QStringLiteral("error desconocido")};
    }
    m_fetchSlots->push(slot, push ? std::optional<QByteArray>(m_batch.message) : std::nullopt,
                       m_batch.timeOutMs);
}

void CollectionCycles::fetchPushed(int slot, bool ok) noexcept {
    SlotPoint point = m_inSlot.take(slot);
    if (point.pushTold && !m_stopping) {
        pushed(point.row, ok);
        // A push that fails turns a good visit into a failed one.
        if (!ok && point.outcome.ok) {
            point.outcome.ok = false;
            point.outcome.failure =
                QStringLiteral("no se pudieron enviar las listas de parámetros");
        }
    }
    if (!m_stopping)
        recordOutcome(point.row, point.outcome, point.retry);
    pointsInProgress();
}
