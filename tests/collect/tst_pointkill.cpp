// Kills a process that runs one point's work at named steps and at random
// instants, starts it again until the work is done, and checks after every
// round that each ticket is exactly once in lectura, lecturaBAK, the server
// table and the output file.
#include "CollectWorld.h"
#include "SimPoints.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <map>

namespace {

const QString kIp = QStringLiteral("127.0.2.1");
const QString kLoc = QStringLiteral("K01");
constexpr int kPerRound = 25;

const char* const kSteps[] = {"before-delete",  "after-delete",    "record",
                              "before-commits", "between-commits", "after-commits",
                              "output-written", "before-clear"};
// The steps of the recovery run that follows a kill.
const char* const kRecoverySteps[] = {"record",        "before-commits", "between-commits",
                                      "after-commits", "output-written", "before-clear",
                                      "save-state"};

QString workerPath() {
    return QStringLiteral(KIVO_POINTWORKER);
}

std::map<int, int> countTickets(const QString& alias, const QString& sql) {
    std::map<int, int> n;
    for (const QVariantList& row : rowsOf(alias, sql))
        ++n[row.at(0).toInt()];
    return n;
}

} // namespace

class TestPointKill : public QObject {
    Q_OBJECT

private slots:
    void eachTicketOnceAcrossKills();

private:
    // Runs the worker; kills it after killAfterMs when that is not negative.
    // True when it was killed (by itself at its step, or by us).
    bool runWorker(const QStringList& extra, int killAfterMs = -1) {
        QProcess p;
        p.setWorkingDirectory(m_world->workDir());
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(workerPath(), QStringList{kIp, kLoc, m_world->outputPath()} + extra);
        if (!p.waitForStarted(10000))
            qFatal("pointworker did not start");
        QElapsedTimer clock;
        clock.start();
        if (killAfterMs >= 0 && !p.waitForFinished(killAfterMs))
            p.kill();
        p.waitForFinished(60000);
        const bool killed = p.exitStatus() == QProcess::CrashExit;
        if (!killed && killAfterMs < 0)
            m_runMs = std::max(m_runMs, int(clock.elapsed()));
        if (!killed && p.exitCode() != 0)
            qWarning("pointworker ended with %d", p.exitCode());
        return killed;
    }

    // Starts the worker again until the point is empty and no run is open.
    void finishRound() {
        for (int attempt = 0; attempt < 5; ++attempt) {
            runWorker({});
            if (m_sim->served(kIp, QStringLiteral("nroRegAsist.ras")) == simCountFile(0) &&
                !flagSet())
                return;
        }
        QFAIL("the work did not finish");
    }

    static bool flagSet() { return RunState::load(RunState::defaultPath()).unfinished; }

    void checkOnce(int tickets) {
        const auto lectura = countTickets(m_world->localAlias, "SELECT NroTicket FROM lectura");
        const auto bak = countTickets(m_world->localAlias, "SELECT NroTicket FROM lecturaBAK");
        const auto server = countTickets(m_world->serverAlias, "SELECT TICKET FROM tickettaxis");
        std::map<int, int> output; // by ticket number, the tenth column
        QFile f(m_world->outputPath());
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.trimmed().isEmpty())
                    ++output[line.split(',').value(9).trimmed().toInt()];
        for (const std::map<int, int>* store :
             {&lectura, &bak, &server, static_cast<const std::map<int, int>*>(&output)}) {
            QCOMPARE(int(store->size()), tickets);
            for (const auto& [ticket, n] : *store)
                if (n != 1)
                    QFAIL(
                        qPrintable(QStringLiteral("ticket %1 stored %2 times").arg(ticket).arg(n)));
        }
    }

    std::unique_ptr<CollectWorld> m_world;
    std::unique_ptr<SimPoints> m_sim;
    QString m_lastStep;
    // The longest whole run seen here: random kills fall within it, so that
    // most of them cut a run short however fast the machine is.
    int m_runMs = 20;
};

void TestPointKill::eachTicketOnceAcrossKills() {
    m_world = std::make_unique<CollectWorld>();
    m_sim = std::make_unique<SimPoints>(QList<SimPointPlan>{{kIp, {}}});
    QVERIFY(m_sim->started());
    m_sim->applyPorts();
    // KIVO_KILL_SEED gives other instants; the default keeps runs comparable.
    const quint32 seed = qEnvironmentVariableIsSet("KIVO_KILL_SEED")
                             ? quint32(qEnvironmentVariableIntValue("KIVO_KILL_SEED"))
                             : 20261208u;
    QRandomGenerator random(seed);
    int kills = 0, rounds = 0;
    const int namedRounds = 2 * int(std::size(kSteps));
    while (kills < 50 || rounds < namedRounds + 10) {
        m_sim->serve(kIp, simRecords(kPerRound, rounds * 1000 + 1));
        bool killed = false;
        if (rounds < namedRounds) {
            const char* step = kSteps[rounds % std::size(kSteps)];
            QStringList extra{QString::fromLatin1(step)};
            if (qstrcmp(step, "record") == 0)
                extra << QString::number(random.bounded(kPerRound));
            m_lastStep = extra.join(QLatin1Char(' '));
            killed = runWorker(extra);
            QVERIFY2(killed, step);
            // The recovery is killed too, at each of its steps in turn.
            const char* again = kRecoverySteps[rounds % std::size(kRecoverySteps)];
            QStringList recoveryKill{QString::fromLatin1(again)};
            if (qstrcmp(again, "record") == 0)
                recoveryKill << QString::number(random.bounded(kPerRound));
            m_lastStep +=
                QStringLiteral(", then recovery at ") + recoveryKill.join(QLatin1Char(' '));
            QVERIFY2(runWorker(recoveryKill), again);
            ++kills;
        } else {
            const int after = random.bounded(1, std::max(2, m_runMs));
            m_lastStep = QStringLiteral("%1 ms").arg(after);
            killed = runWorker({}, after);
        }
        kills += killed ? 1 : 0;
        finishRound();
        ++rounds;
        checkOnce(rounds * kPerRound);
        if (QTest::currentTestFailed()) {
            qInfo("round %d, killed %d, after a kill at %s", rounds, int(killed),
                  qPrintable(m_lastStep));
            return;
        }
        m_sim->serve(kIp, {});
    }
    qInfo("%d rounds, %d kills within %d ms, seed %u", rounds, kills, m_runMs, seed);
}

QTEST_GUILESS_MAIN(TestPointKill)
#include "tst_pointkill.moc"
