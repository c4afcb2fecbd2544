#include "collect/PointHealth.h"

#include "collect/StationReport.h"
#include "platform/Clock.h"
#include "store/DataSet.h"
#include "store/DatabaseError.h"
#include "store/OwnTables.h"
#include "store/QueuedWrites.h"
#include "store/Session.h"

#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace {

constexpr int kMaxFailureText = 250; // the width of failure_text
// A count past this is taken for a hand edit, not for history.
constexpr int kMaxSaneCount = 100000000;

QString tableOf(const QString& alias) {
    return OwnTables::sqlName(OwnTables::kHealth, AliasKind::Local,
                              TSession::current().driverOf(alias));
}

QString timeText(const QDateTime& t) {
    return t.isValid() ? t.toString(Qt::ISODate) : QString();
}

// An empty text is no time; anything else must be one.
bool readTime(const QVariant& value, QDateTime& into) {
    const QString text = value.toString();
    if (text.isEmpty())
        return true;
    into = QDateTime::fromString(text, Qt::ISODate);
    return into.isValid();
}

bool readCount(const QVariant& value, int& into) {
    if (value.isNull())
        return true;
    bool ok = false;
    into = value.toString().toInt(&ok);
    return ok && into >= 0 && into <= kMaxSaneCount;
}

// One row as the table holds it; false when a value makes no sense.
bool rowOf(const QSqlQuery& q, HealthRow& row) {
    row.ip = q.value(0).toString();
    row.loc = q.value(1).toString();
    row.desc = q.value(2).toString();
    row.failureText = q.value(7).toString();
    const QString day = q.value(11).toString();
    row.day = QDate::fromString(day, Qt::ISODate);
    bool ok = !row.ip.isEmpty() && (day.isEmpty() || row.day.isValid());
    ok = readTime(q.value(3), row.lastAttempt) && ok;
    ok = readTime(q.value(4), row.lastSuccess) && ok;
    ok = readTime(q.value(5), row.lastFailure) && ok;
    ok = readTime(q.value(6), row.failingSince) && ok;
    ok = readCount(q.value(8), row.failuresInRow) && ok;
    ok = readCount(q.value(9), row.recordsLast) && ok;
    ok = readCount(q.value(10), row.recordsToday) && ok;
    int alerted = 0;
    ok = readCount(q.value(12), alerted) && alerted <= 1 && ok;
    row.alerted = alerted == 1;
    ok = readCount(q.value(13), row.skippedCycles) && ok;
    ok = readCount(q.value(14), row.keptVisits) && ok;
    row.otherStation = q.value(15).toString();
    return ok;
}

const QString kColumns = QStringLiteral(
    "ip, loc, descr, last_attempt, last_success, last_failure, failing_since, failure_text, "
    "failures_in_row, records_last, records_today, records_day, alerted, skipped_cycles, "
    "kept_visits, other_station");

QString pointName(const HealthRow& row) {
    return QStringLiteral("%1 (%2, Loc %3)").arg(row.ip, row.desc, row.loc);
}

// The row replaces the point's row of the table; raises when it cannot.
void writeHealthRow(const QString& alias, const HealthRow& row) {
    QSqlDatabase db = TSession::current().connectionFor(alias);
    const QString table = tableOf(alias);
    QSqlQuery remove(db);
    remove.prepare(QStringLiteral("DELETE FROM %1 WHERE ip = ?").arg(table));
    remove.addBindValue(row.ip);
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                  "?, ?, ?, ?, ?, ?)")
                       .arg(table, kColumns));
    for (const QVariant& value :
         {QVariant(row.ip), QVariant(row.loc), QVariant(row.desc),
          QVariant(timeText(row.lastAttempt)), QVariant(timeText(row.lastSuccess)),
          QVariant(timeText(row.lastFailure)), QVariant(timeText(row.failingSince)),
          QVariant(row.failureText.left(kMaxFailureText)), QVariant(row.failuresInRow),
          QVariant(row.recordsLast), QVariant(row.recordsToday),
          QVariant(row.day.toString(Qt::ISODate)), QVariant(row.alerted ? 1 : 0),
          QVariant(row.skippedCycles), QVariant(row.keptVisits), QVariant(row.otherStation)})
        insert.addBindValue(value);
    if (!remove.exec())
        throw EDatabaseError(remove.lastError().text());
    if (!insert.exec())
        throw EDatabaseError(insert.lastError().text());
}

} // namespace

HealthKeeper::HealthKeeper(QString localAlias, StationReport& report)
    : m_alias(std::move(localAlias)), m_report(report) {}

void HealthKeeper::reportProblem(const QString& text) noexcept {
    try {
        m_report.statusText(text);
        m_report.logRow(text);
    } catch (const std::exception&) {
        // the log is out of reach too: the status line has said it
    }
}

void HealthKeeper::load() {
    m_rows.clear();
    try {
        QSqlDatabase db = TSession::current().connectionFor(m_alias);
        const QString table = tableOf(m_alias);
        const QString select = QStringLiteral("SELECT %1 FROM %2").arg(kColumns, table);
        QSqlQuery q(db);
        if (!q.exec(select))
            throw EDatabaseError(q.lastError().text());
        while (q.next()) {
            HealthRow row;
            if (rowOf(q, row)) {
                m_rows.insert(row.ip, row);
                continue;
            }
            reportProblem(QStringLiteral("AVISO: la salud guardada del punto %1 no tiene sentido; "
                                         "se empieza de cero.")
                              .arg(row.ip));
            if (row.ip.isEmpty())
                continue;
            HealthRow fresh;
            fresh.ip = row.ip;
            fresh.loc = row.loc;
            fresh.desc = row.desc;
            m_rows.insert(row.ip, fresh);
        }
    } catch (const std::exception& error) {
        reportProblem(QStringLiteral("ERROR: no se puede leer la salud de los puntos (%1): %2")
                          .arg(OwnTables::kHealth, QString::fromUtf8(error.what())));
    }
}

// With a writer the row is written off the event loop, after the rows queued
// before it; the keeper's memory is what the station goes by meanwhile.
void HealthKeeper::save(const HealthRow& row) {
    if (m_writer) {
        m_writer->queue([alias = m_alias, row] { writeHealthRow(alias, row); },
                        [this, ip = row.ip](const QString& error) { saveFailed(ip, error); });
    } else {
        try {
            writeHealthRow(m_alias, row);
        } catch (const std::exception& error) {
            saveFailed(row.ip, QString::fromUtf8(error.what()));
        }
    }
    if (onChanged)
        onChanged();
}

void HealthKeeper::saveFailed(const QString& ip, const QString& error) {
    reportProblem(
        QStringLiteral("ERROR: no se puede guardar la salud del punto %1: %2").arg(ip, error));
}

// 2, 4, 8 ... cycles once the point has failed as often as raises the alert.
int HealthKeeper::backOffCycles(const HealthRow& row) const {
    const int past = row.failuresInRow - m_policy.alertFailures;
    if (!m_policy.backOff || past < 0)
        return 1;
    return 1 << std::min(past + 1, 20);
}

bool HealthKeeper::due(const QString& ip, bool everyPoint) {
    auto found = m_rows.find(ip);
    if (everyPoint || found == m_rows.end())
        return true;
    HealthRow& row = *found;
    const bool hourPassed = !row.lastAttempt.isValid() ||
                            row.lastAttempt.secsTo(currentDateTime()) >= kMaxBackOffSeconds;
    if (row.skippedCycles + 1 >= backOffCycles(row) || hourPassed)
        return true;
    ++row.skippedCycles;
    raiseIfCrossed(row); // hours without a success pass for a point not tried too
    save(row);
    return false;
}

void HealthKeeper::record(const QString& ip, const QString& desc, const QString& loc,
                          const PointOutcome& outcome) {
    HealthRow& row = m_rows[ip];
    const QDateTime now = currentDateTime();
    row.ip = ip;
    row.desc = desc;
    row.loc = loc;
    row.lastAttempt = now;
    row.skippedCycles = 0;
    if (outcome.elsewhere) {
        // Neither a success nor a failure of the point: it is not tried.
        row.otherStation = outcome.failure;
        save(row);
        return;
    }
    row.otherStation.clear();
    countKeptVisit(row, outcome);
    if (row.day != now.date()) {
        row.day = now.date();
        row.recordsToday = 0;
    }
    row.recordsLast = outcome.records;
    row.recordsToday = std::min(row.recordsToday + outcome.records, kMaxSaneCount);
    if (outcome.ok) {
        row.lastSuccess = now;
        row.failuresInRow = 0;
        row.failingSince = QDateTime();
        if (row.alerted)
            notify(row, false, QStringLiteral("responde de nuevo"));
    } else {
        row.lastFailure = now;
        row.failureText = outcome.failure;
        row.failuresInRow = std::min(row.failuresInRow + 1, kMaxSaneCount);
        if (!row.failingSince.isValid())
            row.failingSince = now;
        raiseIfCrossed(row);
    }
    save(row);
}

// A point that goes on keeping records it was not asked to delete fills up
// and its tickets wait: said once it has kept them for the visits of the
// threshold, and once more when it deletes again.
void HealthKeeper::countKeptVisit(HealthRow& row, const PointOutcome& outcome) {
    if (outcome.kept) {
        row.keptVisits = std::min(row.keptVisits + 1, kMaxSaneCount);
        if (row.keptVisits == m_policy.alertKeptVisits) {
            const QString reason =
                QStringLiteral("%1 visitas seguidas sin borrar sus registros").arg(row.keptVisits);
            reportProblem(QStringLiteral("ALERTA: el punto %1 no borra sus registros: %2")
                              .arg(pointName(row), reason));
            if (onAlert)
                onAlert(HealthAlert{true, row.ip, row.desc, row.loc, reason});
        }
        return;
    }
    if (!outcome.deleted)
        return;
    if (row.keptVisits >= m_policy.alertKeptVisits) {
        const QString reason = QStringLiteral("borra de nuevo sus registros");
        reportProblem(QStringLiteral("AVISO: el punto %1 %2.").arg(pointName(row), reason));
        if (onAlert)
            onAlert(HealthAlert{false, row.ip, row.desc, row.loc, reason});
    }
    row.keptVisits = 0;
}

// Down: as many failures in a row as the threshold, or failing with no
// success for the hours of the threshold. Raised once per change of state.
void HealthKeeper::raiseIfCrossed(HealthRow& row) {
    if (row.alerted || row.failuresInRow == 0)
        return;
    const QDateTime since = row.lastSuccess.isValid() ? row.lastSuccess : row.failingSince;
    const qint64 silentHours = since.isValid() ? since.secsTo(currentDateTime()) / 3600 : 0;
    if (row.failuresInRow >= m_policy.alertFailures)
        notify(
            row, true,
            QStringLiteral("%1 fallo(s) seguidos: %2").arg(row.failuresInRow).arg(row.failureText));
    else if (silentHours >= m_policy.alertHours)
        notify(row, true,
               QStringLiteral("%1 h sin éxito: %2").arg(silentHours).arg(row.failureText));
}

void HealthKeeper::notify(HealthRow& row, bool down, const QString& reason) {
    row.alerted = down;
    const QString text = down ? QStringLiteral("ALERTA: el punto %1 no responde: %2")
                              : QStringLiteral("AVISO: el punto %1 %2.");
    reportProblem(text.arg(pointName(row), reason));
    if (onAlert)
        onAlert(HealthAlert{down, row.ip, row.desc, row.loc, reason});
}

QString HealthKeeper::nextTryText(const HealthRow& row) const {
    const int every = backOffCycles(row);
    if (every <= 1)
        return {};
    const int cycles = std::max(1, every - row.skippedCycles);
    const QDateTime latest = row.lastAttempt.addSecs(kMaxBackOffSeconds);
    return QStringLiteral("en %1 ciclo(s), a más tardar %2")
        .arg(cycles)
        .arg(latest.toString(QStringLiteral("HH:mm")));
}

QList<PointHealthView> HealthKeeper::view(const QList<PointHealthView>& points) const {
    const QDate today = currentDateTime().date();
    QList<PointHealthView> out;
    for (PointHealthView p : points) {
        const auto found = m_rows.constFind(p.ip);
        if (found != m_rows.constEnd()) {
            const HealthRow& row = *found;
            p.lastAttempt = row.lastAttempt;
            p.lastSuccess = row.lastSuccess;
            p.lastFailure = row.lastFailure;
            p.failingSince = row.failingSince;
            p.failureText = row.failureText;
            p.failuresInRow = row.failuresInRow;
            p.recordsLast = row.recordsLast;
            p.recordsToday = row.day == today ? row.recordsToday : 0;
            p.nextTry = nextTryText(row);
            p.keptVisits = row.keptVisits;
            p.otherStation = row.otherStation;
            p.state = row.alerted                 ? PointHealthView::State::Down
                      : row.failuresInRow > 0     ? PointHealthView::State::Failing
                      : row.lastAttempt.isValid() ? PointHealthView::State::Ok
                                                  : PointHealthView::State::Unknown;
        }
        if (!p.active)
            p.state = PointHealthView::State::Inactive;
        out << p;
    }
    return out;
}

QList<PointHealthView> HealthKeeper::readPoints(const QString& localAlias) {
    TTable points;
    points.DatabaseName = localAlias;
    points.TableName = QStringLiteral("confRegIP.db");
    points.Open();
    QList<PointHealthView> out;
    try {
        for (points.First(); !points.Eof(); points.Next()) {
            PointHealthView p;
            p.ip = points.FieldByName(QStringLiteral("IP")).AsString();
            p.desc = points.FieldByName(QStringLiteral("Desc")).AsString();
            p.loc = points.FieldByName(QStringLiteral("Loc")).AsString();
            p.active = points.FieldByName(QStringLiteral("Activo")).AsBoolean();
            out << p;
        }
    } catch (...) {
        points.Close();
        throw;
    }
    points.Close();
    return out;
}

QString stateWord(PointHealthView::State state) {
    switch (state) {
    case PointHealthView::State::Ok:
        return QStringLiteral("correcto");
    case PointHealthView::State::Failing:
        return QStringLiteral("fallando");
    case PointHealthView::State::Down:
        return QStringLiteral("caído");
    case PointHealthView::State::Inactive:
        return QStringLiteral("inactivo");
    case PointHealthView::State::Unknown:
        break;
    }
    return QStringLiteral("sin datos");
}

namespace {
PointHealthView::State stateOfWord(const QString& word) {
    for (auto s : {PointHealthView::State::Ok, PointHealthView::State::Failing,
                   PointHealthView::State::Down, PointHealthView::State::Inactive})
        if (stateWord(s) == word)
            return s;
    return PointHealthView::State::Unknown;
}
} // namespace

QJsonArray healthToJson(const QList<PointHealthView>& rows) {
    QJsonArray array;
    for (const PointHealthView& p : rows)
        array.append(QJsonObject{{QStringLiteral("ip"), p.ip},
                                 {QStringLiteral("desc"), p.desc},
                                 {QStringLiteral("loc"), p.loc},
                                 {QStringLiteral("activo"), p.active},
                                 {QStringLiteral("estado"), stateWord(p.state)},
                                 {QStringLiteral("ultimo_intento"), timeText(p.lastAttempt)},
                                 {QStringLiteral("ultimo_exito"), timeText(p.lastSuccess)},
                                 {QStringLiteral("ultimo_fallo"), timeText(p.lastFailure)},
                                 {QStringLiteral("falla_desde"), timeText(p.failingSince)},
                                 {QStringLiteral("fallo"), p.failureText},
                                 {QStringLiteral("fallos_seguidos"), p.failuresInRow},
                                 {QStringLiteral("registros_ultimo"), p.recordsLast},
                                 {QStringLiteral("registros_hoy"), p.recordsToday},
                                 {QStringLiteral("proximo_intento"), p.nextTry},
                                 {QStringLiteral("visitas_sin_borrar"), p.keptVisits},
                                 {QStringLiteral("otra_estacion"), p.otherStation}});
    return array;
}

QList<PointHealthView> healthFromJson(const QJsonArray& array) {
    QList<PointHealthView> rows;
    for (const QJsonValue& value : array) {
        const QJsonObject o = value.toObject();
        const auto text = [&](const char* name) { return o.value(QLatin1String(name)).toString(); };
        const auto time = [&](const char* name) {
            return QDateTime::fromString(text(name), Qt::ISODate);
        };
        PointHealthView p;
        p.ip = text("ip");
        p.desc = text("desc");
        p.loc = text("loc");
        p.active = o.value(QLatin1String("activo")).toBool();
        p.state = stateOfWord(text("estado"));
        p.lastAttempt = time("ultimo_intento");
        p.lastSuccess = time("ultimo_exito");
        p.lastFailure = time("ultimo_fallo");
        p.failingSince = time("falla_desde");
        p.failureText = text("fallo");
        p.failuresInRow = o.value(QLatin1String("fallos_seguidos")).toInt();
        p.recordsLast = o.value(QLatin1String("registros_ultimo")).toInt();
        p.recordsToday = o.value(QLatin1String("registros_hoy")).toInt();
        p.nextTry = text("proximo_intento");
        p.keptVisits = o.value(QLatin1String("visitas_sin_borrar")).toInt();
        p.otherStation = text("otra_estacion");
        rows << p;
    }
    return rows;
}

QString healthText(const QList<PointHealthView>& rows) {
    const auto when = [](const QDateTime& t) {
        return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("-");
    };
    QString text = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
                       .arg(QStringLiteral("Punto"), -16)
                       .arg(QStringLiteral("Loc"), -6)
                       .arg(QStringLiteral("Estado"), -10)
                       .arg(QStringLiteral("Último intento"), -16)
                       .arg(QStringLiteral("Último éxito"), -16)
                       .arg(QStringLiteral("Fallos"), 6)
                       .arg(QStringLiteral("Últ."), 6)
                       .arg(QStringLiteral("Hoy"), 7)
                       .arg(QStringLiteral("Último fallo / próximo intento"));
    for (const PointHealthView& p : rows) {
        QString note = p.failureText.isEmpty()
                           ? QString()
                           : when(p.lastFailure) + QStringLiteral(" ") + p.failureText;
        if (!p.nextTry.isEmpty())
            note += QStringLiteral(" [próximo intento %1]").arg(p.nextTry);
        if (p.keptVisits > 0)
            note += QStringLiteral(" [%1 visita(s) sin borrar]").arg(p.keptVisits);
        if (!p.otherStation.isEmpty())
            note += QStringLiteral(" [%1]").arg(p.otherStation);
        text += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
                    .arg(p.ip, -16)
                    .arg(p.loc, -6)
                    .arg(stateWord(p.state), -10)
                    .arg(when(p.lastAttempt), -16)
                    .arg(when(p.lastSuccess), -16)
                    .arg(p.failuresInRow, 6)
                    .arg(p.recordsLast, 6)
                    .arg(p.recordsToday, 7)
                    .arg(note.trimmed());
    }
    return text;
}
