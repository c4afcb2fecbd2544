#include "collect/RunState.h"

#include "collect/Ticket.h"
#include "platform/Errors.h"
#include "platform/TextCodec.h"
#include "store/Aliases.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex());
}

QByteArray unhex(const QJsonValue& value) {
    return QByteArray::fromHex(value.toString().toLatin1());
}

QJsonObject pendingToJson(const PendingDelete& p) {
    return {{QStringLiteral("count"), p.count},
            {QStringLiteral("sha256"), hex(p.sha256)},
            {QStringLiteral("run"), p.runId}};
}

PendingDelete pendingFromJson(const QJsonObject& o) {
    return {o.value(QStringLiteral("run")).toString(), o.value(QStringLiteral("count")).toInt(),
            unhex(o.value(QStringLiteral("sha256")))};
}

QJsonObject runToJson(const RunRecord& r) {
    QJsonObject o{{QStringLiteral("id"), r.runId},
                  {QStringLiteral("loc"), r.loc},
                  {QStringLiteral("workDir"), r.workDir},
                  {QStringLiteral("countSha256"), hex(r.countSha256)},
                  {QStringLiteral("recordSha256"), hex(r.recordSha256)},
                  {QStringLiteral("output"), r.outputPath},
                  {QStringLiteral("outputStart"), QString::number(r.outputStart)},
                  {QStringLiteral("appendMark"), r.appendMark},
                  {QStringLiteral("skip"), r.skip},
                  {QStringLiteral("sideFor"), r.sideFor},
                  {QStringLiteral("point"), r.point}};
    if (r.priorPending)
        o.insert(QStringLiteral("priorPending"), pendingToJson(*r.priorPending));
    return o;
}

RunRecord runFromJson(const QJsonObject& o) {
    RunRecord r;
    r.runId = o.value(QStringLiteral("id")).toString();
    r.loc = o.value(QStringLiteral("loc")).toString();
    r.workDir = o.value(QStringLiteral("workDir")).toString();
    r.countSha256 = unhex(o.value(QStringLiteral("countSha256")));
    r.recordSha256 = unhex(o.value(QStringLiteral("recordSha256")));
    r.outputPath = o.value(QStringLiteral("output")).toString();
    r.outputStart = o.value(QStringLiteral("outputStart")).toString().toLongLong();
    r.appendMark = o.value(QStringLiteral("appendMark")).toBool();
    r.skip = o.value(QStringLiteral("skip")).toInt();
    r.sideFor = o.value(QStringLiteral("sideFor")).toString();
    r.point = o.value(QStringLiteral("point")).toString();
    if (o.contains(QStringLiteral("priorPending")))
        r.priorPending = pendingFromJson(o.value(QStringLiteral("priorPending")).toObject());
    return r;
}

[[noreturn]] void unreadable(const QString& path, const QString& why) {
    throw Exception(
        QStringLiteral("No se puede leer el estado de recuperación \"%1\": %2. Corríjalo o "
                       "muévalo: mientras tanto no se descarga ningún punto")
            .arg(path, why));
}

} // namespace

QString RunRecord::countFile() const {
    return QDir(workDir).filePath(kCountFile);
}

QString RunRecord::recordFile() const {
    return QDir(workDir).filePath(kRecordFile);
}

QString RunState::defaultPath() {
    return AliasConfig::dataDirectory() + QStringLiteral("/recovery.json");
}

RunState RunState::load(const QString& path) {
    RunState state;
    state.m_path = path;
    QFile file(path);
    if (!file.exists())
        return state;
    if (!file.open(QIODevice::ReadOnly))
        unreadable(path, file.errorString());
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        unreadable(path, error.errorString());
    const QJsonObject o = doc.object();
    state.m_existed = true;
    state.unfinished = o.value(QStringLiteral("unfinished")).toBool();
    state.run = runFromJson(o.value(QStringLiteral("run")).toObject());
    if (state.unfinished && state.run.runId.isEmpty())
        unreadable(path, QStringLiteral("descarga sin identificador"));
    const QJsonObject pending = o.value(QStringLiteral("pending")).toObject();
    for (auto it = pending.begin(); it != pending.end(); ++it)
        state.pending.insert(it.key(), pendingFromJson(it.value().toObject()));
    for (const QJsonValue& v : o.value(QStringLiteral("sideFiles")).toArray())
        state.sideFiles << SideFile{v.toObject().value(QStringLiteral("path")).toString(),
                                    v.toObject().value(QStringLiteral("for")).toString()};
    return state;
}

void RunState::save() {
    QJsonObject pendingJson;
    for (auto it = pending.cbegin(); it != pending.cend(); ++it)
        pendingJson.insert(it.key(), pendingToJson(*it));
    QJsonArray sides;
    for (const SideFile& s : sideFiles)
        sides.append(
            QJsonObject{{QStringLiteral("path"), s.path}, {QStringLiteral("for"), s.intended}});
    const QJsonObject o{{QStringLiteral("unfinished"), unfinished},
                        {QStringLiteral("run"), runToJson(run)},
                        {QStringLiteral("pending"), pendingJson},
                        {QStringLiteral("sideFiles"), sides}};
    QDir().mkpath(QFileInfo(m_path).path());
    QSaveFile file(m_path);
    const QByteArray bytes = QJsonDocument(o).toJson();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !commitSaveFile(file))
        throw Exception(QStringLiteral("No se puede guardar el estado de recuperación \"%1\": %2")
                            .arg(m_path, file.errorString()));
    m_existed = true;
}

QByteArray fileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result();
}
