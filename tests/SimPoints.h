#pragma once

// Simulated registration points (tools/sim/regpoint.py) for the life of the
// object: each point on its own loopback address, all sharing one FTP port and
// one parameter port. The test target defines KIVO_SOURCE_DIR.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtEndian>

// One ticket record as a point holds it.
struct SimRecord {
    qint32 codigo = 0;
    quint32 segundos = 0; // since 1980-01-01 00:00:00
    quint16 importe = 0;  // tenths
    qint32 cuenta = 0;
    qint32 ticket = 0;
    quint16 ceco = 0;

    // The 20 bytes, every number little-endian.
    QByteArray bytes() const {
        QByteArray b(20, '\0');
        char* p = b.data();
        qToLittleEndian<qint32>(codigo, p);
        qToLittleEndian<quint32>(segundos, p + 4);
        qToLittleEndian<quint16>(importe, p + 8);
        qToLittleEndian<qint32>(cuenta, p + 10);
        qToLittleEndian<qint32>(ticket, p + 14);
        qToLittleEndian<quint16>(ceco, p + 18);
        return b;
    }
};

inline QByteArray simRecordFile(const QList<SimRecord>& records) {
    QByteArray all;
    for (const SimRecord& r : records)
        all += r.bytes();
    return all;
}

inline QByteArray simCountFile(int count) {
    QByteArray b(2, '\0');
    qToLittleEndian<quint16>(static_cast<quint16>(count), b.data());
    return b;
}

// Distinct records: ticket numbers from firstTicket on.
inline QList<SimRecord> simRecords(int count, int firstTicket = 1) {
    QList<SimRecord> records;
    for (int i = 0; i < count; ++i) {
        SimRecord r;
        r.codigo = 100 + i % 50;
        r.segundos = 1400000000u + static_cast<quint32>(i) * 61u;
        r.importe = static_cast<quint16>(10 + i % 900);
        r.cuenta = 5000 + i;
        r.ticket = firstTicket + i;
        r.ceco = static_cast<quint16>(i % 40);
        records << r;
    }
    return records;
}

// The first ticket number of records that no earlier run of the tests has
// given: a shared server remembers which records a point's address held.
inline int freshFirstTicket() {
    return int(QCoreApplication::applicationPid() % 2000000) * 1000 + 1;
}

// A loopback address that no earlier run of the tests has used: a shared
// server keeps the leases of points by address, and a run cut short may
// leave one behind.
inline QString freshAddress(int n) {
    const qint64 pid = QCoreApplication::applicationPid();
    return QStringLiteral("127.%1.%2.%3").arg(100 + pid % 100).arg(1 + (pid / 100) % 250).arg(n);
}

struct SimPointPlan {
    QString address;               // 127.0.2.x
    QList<SimRecord> records = {}; // what the point serves
    QString broken = {};           // "", short, long, partial, empty, missing, garbage
    // ok, fail (550, files kept), drop (emptied, no reply), count-only (only the count emptied)
    QString dele = QStringLiteral("ok");
    QString retr = QStringLiteral("ok"); // ok, cut (half, then 426), stall (no answer)
    QString ftp = QStringLiteral("ok");  // ok, silent (accepts, never greets)
};

class SimPoints {
public:
    explicit SimPoints(const QList<SimPointPlan>& points) {
        QJsonArray list;
        for (const SimPointPlan& p : points) {
            QJsonArray records;
            for (const SimRecord& r : p.records)
                records.append(QJsonArray{r.codigo, static_cast<double>(r.segundos), r.importe,
                                          r.cuenta, r.ticket, r.ceco});
            QJsonObject o{{QStringLiteral("address"), p.address},
                          {QStringLiteral("records"), records},
                          {QStringLiteral("dele"), p.dele},
                          {QStringLiteral("retr"), p.retr},
                          {QStringLiteral("ftp"), p.ftp}};
            if (!p.broken.isEmpty())
                o.insert(QStringLiteral("broken"), p.broken);
            list.append(o);
        }
        const QString config = m_state.filePath(QStringLiteral("points.json"));
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly))
            return;
        f.write(QJsonDocument(QJsonObject{{QStringLiteral("points"), list}}).toJson());
        f.close();
        const QString script = sourceDir() + QStringLiteral("/tools/sim/regpoint.py");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Free ports of its own, even after an earlier simulator's applyPorts().
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("KIVO_FTP_PORT"));
        env.remove(QStringLiteral("KIVO_PARAM_PORT"));
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {script, QStringLiteral("--state"), m_state.path(),
                         QStringLiteral("--config"), config});
        if (!m_process.waitForStarted(10000))
            return;
        while (m_process.state() == QProcess::Running && !m_process.canReadLine())
            m_process.waitForReadyRead(10000);
        const QList<QByteArray> ready = m_process.readLine().trimmed().split(' ');
        if (ready.size() == 3 && ready.at(0) == "READY") {
            m_ftpPort = ready.at(1).toInt();
            m_paramPort = ready.at(2).toInt();
        }
    }
    ~SimPoints() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    SimPoints(const SimPoints&) = delete;
    SimPoints& operator=(const SimPoints&) = delete;

    bool started() const { return m_ftpPort > 0 && m_paramPort > 0; }
    int ftpPort() const { return m_ftpPort; }
    int paramPort() const { return m_paramPort; }
    // Points the station's ports at the simulator (KIVO_FTP_PORT, KIVO_PARAM_PORT).
    void applyPorts() const {
        qputenv("KIVO_FTP_PORT", QByteArray::number(m_ftpPort));
        qputenv("KIVO_PARAM_PORT", QByteArray::number(m_paramPort));
    }

    QString pointDir(const QString& address) const { return m_state.filePath(address); }
    // "RETR <name>", "DELE x", "DELE x refused", "PARAM OK <n> <m> <file>", ...
    QStringList events(const QString& address) const {
        QFile f(pointDir(address) + QStringLiteral("/events.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    int countEvents(const QString& address, const QString& prefix) const {
        int n = 0;
        for (const QString& e : events(address))
            n += e.startsWith(prefix) ? 1 : 0;
        return n;
    }
    // The parameter messages received, in the order they were saved.
    QList<QByteArray> messages(const QString& address) const {
        QList<QByteArray> all;
        for (int k = 1;; ++k) {
            QFile f(pointDir(address) + QStringLiteral("/param-%1.bin").arg(k));
            if (!f.open(QIODevice::ReadOnly))
                return all;
            all << f.readAll();
        }
    }
    // The files the point serves now; rewriting them gives it new records.
    QByteArray served(const QString& address, const QString& name) const {
        QFile f(pointDir(address) + QStringLiteral("/served/") + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void serve(const QString& address, const QList<SimRecord>& records) const {
        writeServed(address, QStringLiteral("nroRegAsist.ras"), simCountFile(records.size()));
        writeServed(address, QStringLiteral("regAsist.ras"), simRecordFile(records));
    }
    // The count files the next downloads of the count file serve, in order.
    void queueCountReads(const QString& address, const QList<QByteArray>& counts) const {
        QFile f(pointDir(address) + QStringLiteral("/count-reads"));
        if (!f.open(QIODevice::WriteOnly))
            return;
        for (const QByteArray& count : counts)
            f.write((count.isEmpty() ? QByteArray("-") : count.toHex()) + '\n');
    }
    void writeServed(const QString& address, const QString& name, const QByteArray& content) const {
        QFile f(pointDir(address) + QStringLiteral("/served/") + name);
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
    }

    static QString sourceDir() {
        const QString fromEnv = qEnvironmentVariable("KIVO_SOURCE_DIR");
        return fromEnv.isEmpty() ? QStringLiteral(KIVO_SOURCE_DIR) : fromEnv;
    }

private:
    QTemporaryDir m_state;
    QProcess m_process;
    int m_ftpPort = 0;
    int m_paramPort = 0;
};
