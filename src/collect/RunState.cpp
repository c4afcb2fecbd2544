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
#include <stdexcept>

namespace {

// Files written before the run knew its count, its output file's identity
// and its lease carry no version; they are read without those fields.
constexpr int kVersion = 2;
constexpr int kMaxCount = 65535;

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex());
}

// A field that is missing or of the wrong type: the whole file is unreadable.
struct BadField : std::runtime_error {
    explicit BadField(const QString& why) : std::runtime_error(why.toStdString()) {}
};

// The fields of one JSON object, each required with its type; where names
// the object in the messages ("run.priorPending").
class Fields {
public:
    Fields(QJsonObject object, QString where) : m_o(std::move(object)), m_where(std::move(where)) {}

    bool has(const char* name) const { return m_o.contains(QLatin1String(name)); }

    QString text(const char* name) const {
        const QJsonValue v = value(name);
        if (!v.isString())
            bad(name, "no es un texto");
        return v.toString();
    }

    bool flag(const char* name) const {
        const QJsonValue v = value(name);
        if (!v.isBool())
            bad(name, "no es true ni false");
        return v.toBool();
    }

    qint64 whole(const char* name, qint64 min, qint64 max) const {
        const QJsonValue v = value(name);
        const double d = v.toDouble(-1.5);
        if (!v.isDouble() || d < double(min) || d > double(max) || d != double(qint64(d)))
            bad(name, QStringLiteral("no es un número entero de %1 a %2").arg(min).arg(max));
        return qint64(d);
    }

    // A length written as its decimal digits: JSON numbers lose precision
    // beyond 2^53.
    qint64 digits(const char* name) const {
        const QString t = text(name);
        bool ok = false;
        const qint64 n = t.toLongLong(&ok);
        if (!ok || n < 0 || t.isEmpty() || !t.front().isDigit())
            bad(name, "no es un número entero no negativo escrito como texto");
        return n;
    }

    // A SHA-256 in hexadecimal, or an empty text where allowed.
    QByteArray sha(const char* name, bool emptyAllowed) const {
        const QString t = text(name);
        if (t.isEmpty() && emptyAllowed)
            return {};
        const QByteArray bytes = QByteArray::fromHex(t.toLatin1());
        if (t.size() != 64 || hex(bytes) != t.toLower())
            bad(name, "no es un SHA-256 en hexadecimal");
        return bytes;
    }

    Fields object(const char* name) const {
        const QJsonValue v = value(name);
        if (!v.isObject())
            bad(name, "no es un objeto");
        return {v.toObject(), path(name)};
    }

    QJsonArray array(const char* name) const {
        const QJsonValue v = value(name);
        if (!v.isArray())
            bad(name, "no es una lista");
        return v.toArray();
    }

    // Each member as an object, by its key.
    QList<std::pair<QString, Fields>> members() const {
        QList<std::pair<QString, Fields>> out;
        for (auto it = m_o.begin(); it != m_o.end(); ++it) {
            if (!it.value().isObject())
                throw BadField(
                    QStringLiteral("el campo \"%1.%2\" no es un objeto").arg(m_where, it.key()));
            out.append({it.key(), Fields(it.value().toObject(), m_where + '.' + it.key())});
        }
        return out;
    }

private:
    QJsonValue value(const char* name) const {
        const auto found = m_o.constFind(QLatin1String(name));
        if (found == m_o.constEnd())
            throw BadField(QStringLiteral("falta el campo \"%1\"").arg(path(name)));
        return *found;
    }
    QString path(const char* name) const {
        return m_where.isEmpty() ? QString::fromLatin1(name)
                                 : m_where + QLatin1Char('.') + QLatin1String(name);
    }
    [[noreturn]] void bad(const char* name, const QString& what) const {
        throw BadField(QStringLiteral("el campo \"%1\" %2").arg(path(name), what));
    }
    [[noreturn]] void bad(const char* name, const char* what) const {
        bad(name, QString::fromUtf8(what));
    }

    QJsonObject m_o;
    QString m_where;
};

QJsonObject pendingToJson(const PendingDelete& p) {
    return {{QStringLiteral("count"), p.count},
            {QStringLiteral("sha256"), hex(p.sha256)},
            {QStringLiteral("run"), p.runId}};
}

PendingDelete pendingFromJson(const Fields& f) {
    return {f.text("run"), int(f.whole("count", 0, kMaxCount)), f.sha("sha256", false)};
}

QJsonObject runToJson(const RunRecord& r) {
    QJsonObject o{{QStringLiteral("id"), r.runId},
                  {QStringLiteral("loc"), r.loc},
                  {QStringLiteral("workDir"), r.workDir},
                  {QStringLiteral("countSha256"), hex(r.countSha256)},
                  {QStringLiteral("recordSha256"), hex(r.recordSha256)},
                  {QStringLiteral("count"), r.count},
                  {QStringLiteral("records"), r.records},
                  {QStringLiteral("output"), r.outputPath},
                  {QStringLiteral("outputFile"), r.outputFile},
                  {QStringLiteral("outputStart"), QString::number(r.outputStart)},
                  {QStringLiteral("appendMark"), r.appendMark},
                  {QStringLiteral("skip"), r.skip},
                  {QStringLiteral("sideFor"), r.sideFor},
                  {QStringLiteral("point"), r.point},
                  {QStringLiteral("lease"), r.lease}};
    if (r.priorPending)
        o.insert(QStringLiteral("priorPending"), pendingToJson(*r.priorPending));
    return o;
}

RunRecord runFromJson(const Fields& f, int version) {
    RunRecord r;
    r.runId = f.text("id");
    r.loc = f.text("loc");
    r.workDir = f.text("workDir");
    r.countSha256 = f.sha("countSha256", true);
    r.recordSha256 = f.sha("recordSha256", true);
    r.outputPath = f.text("output");
    r.outputStart = f.digits("outputStart");
    r.appendMark = f.flag("appendMark");
    r.skip = int(f.whole("skip", 0, kMaxCount));
    r.sideFor = f.text("sideFor");
    r.point = f.text("point");
    if (f.has("priorPending"))
        r.priorPending = pendingFromJson(f.object("priorPending"));
    if (version >= 2) {
        // -1: a run taken over from a state that did not keep them
        r.count = int(f.whole("count", -1, kMaxCount));
        r.records = int(f.whole("records", -1, kMaxCount));
        r.outputFile = f.text("outputFile");
        r.lease = f.text("lease");
    } else {
        r.count = r.records = -1; // not known: the run's own files tell
    }
    return r;
}

[[noreturn]] void unreadable(const QString& path, const QString& why) {
    throw Exception(
        QStringLiteral("No se puede leer el estado de recuperación \"%1\": %2. Corríjalo o "
                       "muévalo: mientras tanto no se descarga ningún punto")
            .arg(path, why));
}

void readInto(RunState& state, const QJsonObject& top) {
    const Fields f(top, QString());
    const int version = f.has("version") ? int(f.whole("version", 2, kVersion)) : 1;
    state.unfinished = f.flag("unfinished");
    state.run = runFromJson(f.object("run"), version);
    if (state.unfinished && state.run.runId.isEmpty())
        throw BadField(QStringLiteral("la descarga sin terminar no tiene identificador"));
    for (const auto& [point, entry] : f.object("pending").members())
        state.pending.insert(point, pendingFromJson(entry));
    const QJsonArray sides = f.array("sideFiles");
    for (qsizetype i = 0; i < sides.size(); ++i) {
        if (!sides.at(i).isObject())
            throw BadField(
                QStringLiteral("el elemento %1 de \"sideFiles\" no es un objeto").arg(i));
        const Fields side(sides.at(i).toObject(), QStringLiteral("sideFiles[%1]").arg(i));
        state.sideFiles << SideFile{side.text("path"), side.text("for")};
    }
    if (version >= 2)
        for (const auto& [point, tail] : f.object("tails").members())
            state.tails.insert(point, TailSeen{tail.sha("sha256", false),
                                               tail.whole("bytes", 1, qint64(1) << 40)});
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
    QFile file(path);
    if (!file.exists()) {
        RunState state;
        state.m_path = path;
        return state;
    }
    if (!file.open(QIODevice::ReadOnly))
        unreadable(path, file.errorString());
    return parse(file.readAll(), path);
}

RunState RunState::parse(const QByteArray& bytes, const QString& where) {
    RunState state;
    state.m_path = where;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        unreadable(where, error.errorString());
    if (!doc.isObject())
        unreadable(where, QStringLiteral("no es un objeto JSON"));
    try {
        readInto(state, doc.object());
    } catch (const BadField& bad) {
        unreadable(where, QString::fromStdString(bad.what()));
    }
    state.m_existed = true;
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
    QJsonObject tailsJson;
    for (auto it = tails.cbegin(); it != tails.cend(); ++it)
        tailsJson.insert(it.key(), QJsonObject{{QStringLiteral("sha256"), hex(it->sha256)},
                                               {QStringLiteral("bytes"), it->bytes}});
    const QJsonObject o{
        {QStringLiteral("version"), kVersion},   {QStringLiteral("unfinished"), unfinished},
        {QStringLiteral("run"), runToJson(run)}, {QStringLiteral("pending"), pendingJson},
        {QStringLiteral("sideFiles"), sides},    {QStringLiteral("tails"), tailsJson}};
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
