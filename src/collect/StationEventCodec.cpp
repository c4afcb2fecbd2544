#include "collect/StationEventCodec.h"

#include "collect/StationControl.h"

#include <QJsonDocument>

namespace {

QString kindName(CycleKind kind) {
    return kind == CycleKind::Download ? QStringLiteral("descarga")
                                       : QStringLiteral("sincronizacion");
}

CycleKind kindOf(const QString& name) {
    return name == QLatin1String("sincronizacion") ? CycleKind::Sync : CycleKind::Download;
}

const QStringList& triggerNames() {
    static const QStringList names{QStringLiteral("diario"), QStringLiteral("constante"),
                                   QStringLiteral("manual"), QStringLiteral("ahora")};
    return names;
}

QJsonObject visitToJson(const PointVisit& v) {
    const PointOutcome& o = v.outcome;
    return {{QStringLiteral("ip"), v.ip},
            {QStringLiteral("desc"), v.desc},
            {QStringLiteral("loc"), v.loc},
            {QStringLiteral("conocido"), o.known},
            {QStringLiteral("ok"), o.ok},
            {QStringLiteral("fallo"), o.failure},
            {QStringLiteral("registros"), o.records},
            {QStringLiteral("transitorio"), o.transient},
            {QStringLiteral("codigo"), o.errorCode},
            {QStringLiteral("otra_estacion"), o.elsewhere},
            {QStringLiteral("borrado"), o.deleted},
            {QStringLiteral("conservado"), o.kept}};
}

PointVisit visitFromJson(const QJsonObject& j) {
    PointVisit v{j.value(QStringLiteral("ip")).toString(),
                 j.value(QStringLiteral("desc")).toString(),
                 j.value(QStringLiteral("loc")).toString(),
                 {}};
    PointOutcome& o = v.outcome;
    o.known = j.value(QStringLiteral("conocido")).toBool();
    o.ok = j.value(QStringLiteral("ok")).toBool();
    o.failure = j.value(QStringLiteral("fallo")).toString();
    o.records = j.value(QStringLiteral("registros")).toInt();
    o.transient = j.value(QStringLiteral("transitorio")).toBool();
    o.errorCode = j.value(QStringLiteral("codigo")).toInt();
    o.elsewhere = j.value(QStringLiteral("otra_estacion")).toBool();
    o.deleted = j.value(QStringLiteral("borrado")).toBool();
    o.kept = j.value(QStringLiteral("conservado")).toBool();
    return v;
}

QByteArray eventLine(const QString& type, QJsonObject event) {
    event.insert(QStringLiteral("tipo"), type);
    return "evento " + QJsonDocument(event).toJson(QJsonDocument::Compact);
}

void replayEvent(const QJsonObject& e, StationControl& s) {
    const QString type = e.value(QStringLiteral("tipo")).toString();
    const auto text = [&](const char* name) { return e.value(QLatin1String(name)).toString(); };
    if (type == QLatin1String("ciclo-inicio")) {
        const qsizetype trigger = triggerNames().indexOf(text("disparo"));
        emit s.cycleStarted(kindOf(text("clase")), CycleTrigger(std::max<qsizetype>(trigger, 0)));
    } else if (type == QLatin1String("punto-inicio")) {
        emit s.pointStarted(visitFromJson(e));
    } else if (type == QLatin1String("punto")) {
        emit s.pointVisited(visitFromJson(e));
    } else if (type == QLatin1String("listas")) {
        emit s.listsPushed(ListsPush{text("ip"), text("desc"), text("loc"),
                                     e.value(QStringLiteral("ok")).toBool()});
    } else if (type == QLatin1String("ciclo-fin")) {
        emit s.cycleEnded(kindOf(text("clase")), e.value(QStringLiteral("cancelado")).toBool());
    } else if (type == QLatin1String("progreso")) {
        emit s.transferProgress(TransferProgress{
            text("host"), text("desc"), qint64(e.value(QStringLiteral("recibidos")).toDouble()),
            qint64(e.value(QStringLiteral("tamano")).toDouble())});
    } else if (type == QLatin1String("alerta")) {
        emit s.alertRaised(HealthAlert{e.value(QStringLiteral("caido")).toBool(), text("ip"),
                                       text("desc"), text("loc"), text("motivo")});
    } else if (type == QLatin1String("error")) {
        emit s.errorShown(text("texto"));
    }
}

} // namespace

namespace StationEventCodec {

void forward(StationControl& station, std::function<void(const QByteArray& line)> send) {
    QObject* context = &station;
    auto out = std::make_shared<std::function<void(const QByteArray&)>>(std::move(send));
    const auto emitLine = [out](const QByteArray& line) { (*out)(line); };
    QObject::connect(&station, &StationControl::memoAppended, context,
                     [emitLine, pending = std::make_shared<QString>()](const QString& text) {
                         *pending += text;
                         QStringList lines = pending->split(QStringLiteral("\r\n"));
                         *pending = lines.takeLast();
                         for (const QString& line : std::as_const(lines))
                             emitLine("memo " + line.toUtf8());
                     });
    QObject::connect(&station, &StationControl::memoCleared, context,
                     [emitLine] { emitLine("limpiar"); });
    QObject::connect(&station, &StationControl::statusChanged, context,
                     [emitLine](const QString& text) { emitLine("estado " + text.toUtf8()); });
    QObject::connect(&station, &StationControl::healthChanged, context,
                     [emitLine] { emitLine("salud"); });
    QObject::connect(
        &station, &StationControl::cycleStarted, context,
        [emitLine](CycleKind kind, CycleTrigger trigger) {
            emitLine(eventLine(QStringLiteral("ciclo-inicio"),
                               {{QStringLiteral("clase"), kindName(kind)},
                                {QStringLiteral("disparo"), triggerNames().value(int(trigger))}}));
        });
    QObject::connect(&station, &StationControl::pointStarted, context,
                     [emitLine](const PointVisit& point) {
                         emitLine(eventLine(QStringLiteral("punto-inicio"), visitToJson(point)));
                     });
    QObject::connect(&station, &StationControl::pointVisited, context,
                     [emitLine](const PointVisit& visit) {
                         emitLine(eventLine(QStringLiteral("punto"), visitToJson(visit)));
                     });
    QObject::connect(
        &station, &StationControl::listsPushed, context, [emitLine](const ListsPush& push) {
            emitLine(eventLine(QStringLiteral("listas"), {{QStringLiteral("ip"), push.ip},
                                                          {QStringLiteral("desc"), push.desc},
                                                          {QStringLiteral("loc"), push.loc},
                                                          {QStringLiteral("ok"), push.ok}}));
        });
    QObject::connect(&station, &StationControl::cycleEnded, context,
                     [emitLine](CycleKind kind, bool cancelled) {
                         emitLine(eventLine(QStringLiteral("ciclo-fin"),
                                            {{QStringLiteral("clase"), kindName(kind)},
                                             {QStringLiteral("cancelado"), cancelled}}));
                     });
    QObject::connect(&station, &StationControl::transferProgress, context,
                     [emitLine](const TransferProgress& p) {
                         emitLine(eventLine(QStringLiteral("progreso"),
                                            {{QStringLiteral("host"), p.host},
                                             {QStringLiteral("desc"), p.desc},
                                             {QStringLiteral("recibidos"), double(p.received)},
                                             {QStringLiteral("tamano"), double(p.size)}}));
                     });
    QObject::connect(
        &station, &StationControl::alertRaised, context, [emitLine](const HealthAlert& a) {
            emitLine(eventLine(QStringLiteral("alerta"), {{QStringLiteral("caido"), a.down},
                                                          {QStringLiteral("ip"), a.ip},
                                                          {QStringLiteral("desc"), a.desc},
                                                          {QStringLiteral("loc"), a.loc},
                                                          {QStringLiteral("motivo"), a.reason}}));
        });
    QObject::connect(
        &station, &StationControl::errorShown, context, [emitLine](const QString& message) {
            emitLine(eventLine(QStringLiteral("error"), {{QStringLiteral("texto"), message}}));
        });
}

bool replay(const QByteArray& line, StationControl& station) {
    const QString text = QString::fromUtf8(line);
    if (line.startsWith("memo ")) {
        emit station.memoAppended(text.mid(5) + QStringLiteral("\r\n"));
    } else if (line.startsWith("estado ")) {
        emit station.statusChanged(text.mid(7));
    } else if (line == "limpiar") {
        emit station.memoCleared();
    } else if (line == "salud") {
        emit station.healthChanged();
    } else if (line.startsWith("evento ")) {
        replayEvent(QJsonDocument::fromJson(line.mid(7)).object(), station);
    } else {
        return false;
    }
    return true;
}

} // namespace StationEventCodec
