#include "platform/Registry.h"

#include "platform/RegistryFile.h"

#include <QDir>
#include <QStandardPaths>
#include <QtEndian>
#include <cstring>
#include <optional>

using regfile::LoadStatus;
using regfile::Value;
using regfile::ValueType;

namespace {

const QString kRoot = QStringLiteral("HKEY_CURRENT_USER");

[[noreturn]] void failGet(const QString& name) {
    throw ERegistryException(QStringLiteral("Failed to get data for '%1'").arg(name));
}

[[noreturn]] void failType(const QString& name) {
    throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
}

[[noreturn]] void failSet(const QString& name) {
    throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
}

// A key beginning with "\" starts at HKEY_CURRENT_USER; any other is below the
// open key, as the registry API has it.
QString fullPath(const QString& openKey, const QString& key) {
    const bool absolute = key.startsWith(QLatin1Char('\\')) || openKey.isEmpty();
    QString relative = key;
    while (relative.startsWith(QLatin1Char('\\')))
        relative.remove(0, 1);
    while (relative.endsWith(QLatin1Char('\\')))
        relative.chop(1);
    const QString base = absolute ? kRoot : openKey;
    return relative.isEmpty() ? base : base + QLatin1Char('\\') + relative;
}

Value dwordValue(const QString& name, int number) {
    Value value;
    value.name = name;
    value.type = ValueType::Dword;
    value.dword = static_cast<quint32>(number);
    return value;
}

Value binaryValue(const QString& name, const QByteArray& bytes) {
    Value value;
    value.name = name;
    value.type = ValueType::Binary;
    value.bytes = bytes;
    return value;
}

Value stringValue(const QString& name, const QString& text) {
    Value value;
    value.name = name;
    value.type = ValueType::String;
    value.text = text;
    return value;
}

// A quoted string in the file cannot hold a line break or a NUL; such text is
// stored as REG_SZ in hex form instead.
Value storable(Value value, regfile::Format format) {
    if (value.type != ValueType::String)
        return value;
    if (!value.text.contains(QLatin1Char('\n')) && !value.text.contains(QLatin1Char('\r')) &&
        !value.text.contains(QChar(0)))
        return value;
    value.type = ValueType::Other;
    value.otherType = 1; // REG_SZ
    value.bytes = regfile::textAsOther(value.text, format);
    return value;
}

} // namespace

struct TRegistry::Impl {
    QString path;
    QString openKey; // full path; empty while no key is open
    regfile::Document snapshot;

    const Value* value(const QString& name) const {
        const regfile::Key* key = snapshot.find(openKey);
        return key ? key->find(name) : nullptr;
    }
    const Value& existing(const QString& name) const {
        const Value* found = value(name);
        if (!found)
            failGet(name);
        return *found;
    }
    void write(const Value& value);
    void endUpdate();
    void dropUpdate() {
        updating = false;
        pending.reset();
    }

    // A group of writes: the document they change and the first value's name.
    bool updating = false;
    std::optional<regfile::Document> pending;
    QString pendingFirst;
};

// The file is read again before every write so that a change never drops what
// is in it now; a file that could not be read is never written over.
void TRegistry::Impl::write(const Value& value) {
    if (openKey.isEmpty())
        failSet(value.name);
    regfile::Document document;
    if (updating && pending) {
        document = std::move(*pending);
    } else {
        regfile::Loaded file = regfile::load(path);
        if (file.status == LoadStatus::Unreadable || file.status == LoadStatus::Invalid)
            failSet(value.name);
        document = std::move(file.document);
    }
    // The format is settled by the plain text before a multi-line text is
    // encoded as hex data in it.
    document.ensure(openKey).set(value);
    if (!regfile::fitsSingleByte(document))
        regfile::widenToUnicode(document);
    document.ensure(openKey).set(storable(value, document.format));
    if (updating) {
        if (!pending)
            pendingFirst = value.name;
        pending = std::move(document);
        return;
    }
    if (!regfile::save(path, document))
        failSet(value.name);
    snapshot = std::move(document);
}

// One rewrite for the whole group: each rewrite of the file costs a flush to
// the disk, and the station saves its settings while the event loop waits.
void TRegistry::Impl::endUpdate() {
    std::optional<regfile::Document> document = std::move(pending);
    const QString first = pendingFirst;
    dropUpdate();
    if (!document)
        return;
    if (!regfile::save(path, *document))
        failSet(first);
    snapshot = std::move(*document);
}

QString TRegistry::fileProblem(const QString& path) {
    const regfile::Loaded file = regfile::load(path);
    if (file.status == LoadStatus::Unreadable)
        return QStringLiteral("No se puede leer el archivo de configuración \"%1\"").arg(path);
    if (file.status != LoadStatus::Invalid)
        return {};
    const QString where =
        file.error.line > 0 ? QStringLiteral(" en la línea %1").arg(file.error.line) : QString();
    return QStringLiteral("El archivo de configuración \"%1\" no es válido%2: %3. Corríjalo; "
                          "mientras tanto no se usa ni se cambia")
        .arg(path, where, file.error.what);
}

QString TRegistry::defaultPath() {
    const QString explicitPath = qEnvironmentVariable("KIVO_REGISTRY");
    if (!explicitPath.isEmpty())
        return explicitPath;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/kivo-ip/registry.reg");
}

TRegistry::TRegistry(QString filePath) : d(new Impl) {
    d->path = std::move(filePath);
}

TRegistry::~TRegistry() {
    delete d;
}

bool TRegistry::OpenKey(const QString& key, bool canCreate) {
    d->dropUpdate();
    const QString path = fullPath(d->openKey, key);
    regfile::Loaded file = regfile::load(d->path);
    if (file.status == LoadStatus::Unreadable || file.status == LoadStatus::Invalid)
        return false;
    if (!file.document.find(path)) {
        if (!canCreate)
            return false;
        file.document.ensure(path);
        if (!regfile::save(d->path, file.document))
            return false;
    }
    d->snapshot = std::move(file.document);
    d->openKey = path;
    return true;
}

void TRegistry::CloseKey() {
    d->dropUpdate();
    d->openKey.clear();
    d->snapshot = {};
}

bool TRegistry::KeyExists(const QString& key) {
    const regfile::Loaded file = regfile::load(d->path);
    return file.document.find(fullPath(d->openKey, key)) != nullptr;
}

bool TRegistry::ValueExists(const QString& name) const {
    return d->value(name) != nullptr;
}

int TRegistry::ReadInteger(const QString& name) const {
    const Value& value = d->existing(name);
    if (value.type != ValueType::Dword)
        failType(name);
    return static_cast<int>(value.dword);
}

bool TRegistry::ReadBool(const QString& name) const {
    return ReadInteger(name) != 0;
}

QString TRegistry::ReadString(const QString& name) const {
    const Value* value = d->value(name);
    if (!value)
        return QString();
    if (value->type == ValueType::String)
        return value->text;
    // REG_SZ and REG_EXPAND_SZ in hex form
    if (value->type == ValueType::Other && (value->otherType == 1 || value->otherType == 2))
        return regfile::otherAsText(*value, d->snapshot.format);
    failType(name);
}

QByteArray TRegistry::ReadBinaryData(const QString& name) const {
    const Value& value = d->existing(name);
    if (value.type != ValueType::Binary)
        failType(name);
    return value.bytes;
}

double TRegistry::ReadDateTime(const QString& name) const {
    const Value& value = d->existing(name);
    if (value.type != ValueType::Binary || value.bytes.size() != sizeof(double))
        failType(name);
    return qFromLittleEndian<double>(value.bytes.constData());
}

void TRegistry::WriteInteger(const QString& name, int value) {
    d->write(dwordValue(name, value));
}

void TRegistry::WriteBool(const QString& name, bool value) {
    WriteInteger(name, value ? 1 : 0);
}

void TRegistry::WriteString(const QString& name, const QString& value) {
    d->write(stringValue(name, value));
}

void TRegistry::WriteBinaryData(const QString& name, const QByteArray& value) {
    d->write(binaryValue(name, value));
}

void TRegistry::WriteDateTime(const QString& name, double value) {
    QByteArray bytes(sizeof(double), '\0');
    qToLittleEndian(value, bytes.data());
    d->write(binaryValue(name, bytes));
}

void TRegistry::BeginUpdate() {
    d->dropUpdate();
    d->updating = true;
}

void TRegistry::EndUpdate() {
    d->endUpdate();
}
