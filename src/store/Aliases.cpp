#include "store/Aliases.h"

#include "platform/TextCodec.h"
#include "store/DatabaseError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

AliasNames readAliasFile(const QString& path) {
    QStringList lines;
    if (!readCp1252Lines(path, lines))
        return {};
    AliasNames names;
    names.local = lines.value(0);
    names.server = lines.value(1);
    return names;
}

namespace {

using Section = QHash<QString, QString>; // lower-case key -> value

QString envOr(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

// The section of one alias, names compared without regard to case. An absent
// file has no sections; a file that exists but cannot be read is an error,
// since silently falling back to the embedded files would misplace records.
bool findSection(const QString& configPath, const QString& alias, Section& section) {
    QFile file(configPath);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw EDatabaseError(
            QStringLiteral("Cannot read the alias configuration '%1'").arg(configPath));
    bool inside = false, found = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inside =
                line.mid(1, line.size() - 2).trimmed().compare(alias, Qt::CaseInsensitive) == 0;
            found = found || inside;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inside && eq > 0)
            section.insert(line.left(eq).trimmed().toLower(), line.mid(eq + 1).trimmed());
    }
    return found;
}

EDatabaseError badAlias(const QString& alias, const QString& what) {
    return EDatabaseError(QStringLiteral("Alias '%1': %2").arg(alias, what));
}

// Seconds before an unreachable server counts as down.
int connectTimeoutOf(const QString& alias, const Section& section, int fallback) {
    if (!section.contains(QStringLiteral("connecttimeout")))
        return fallback;
    bool ok = false;
    const int seconds = section.value(QStringLiteral("connecttimeout")).toInt(&ok);
    if (!ok || seconds <= 0)
        throw badAlias(alias, QStringLiteral("invalid ConnectTimeout="));
    return seconds;
}

AliasDefinition postgresDefinition(const QString& alias, const Section& section) {
    AliasDefinition def;
    def.driver = AliasDefinition::Driver::Postgres;
    def.host = section.value(QStringLiteral("host"));
    def.database = section.value(QStringLiteral("database"));
    if (def.database.isEmpty())
        throw badAlias(alias, QStringLiteral("no Database= for the postgres driver"));
    bool ok = true;
    if (section.contains(QStringLiteral("port")))
        def.port = section.value(QStringLiteral("port")).toInt(&ok);
    if (!ok || def.port <= 0 || def.port > 65535)
        throw badAlias(alias, QStringLiteral("invalid Port="));
    def.connectTimeout = connectTimeoutOf(alias, section, def.connectTimeout);
    return def;
}

AliasDefinition odbcDefinition(const QString& alias, const Section& section) {
    AliasDefinition def;
    def.driver = AliasDefinition::Driver::Odbc;
    def.connection = section.value(QStringLiteral("connection"));
    if (def.connection.isEmpty())
        throw badAlias(alias, QStringLiteral("no Connection= for the odbc driver"));
    def.connectTimeout = connectTimeoutOf(alias, section, def.connectTimeout);
    return def;
}

AliasDefinition sqliteDefinition(const QString& alias, const Section& section,
                                 const QString& configPath) {
    AliasDefinition def;
    def.path = section.value(QStringLiteral("path"));
    if (def.path.isEmpty())
        throw badAlias(alias, QStringLiteral("no Path= for the sqlite driver"));
    // A relative path belongs to the configuration, not to whatever the
    // working directory happens to be.
    def.path = QFileInfo(configPath).absoluteDir().absoluteFilePath(def.path);
    return def;
}

} // namespace

QString AliasConfig::configPath() {
    const QString explicitPath = qEnvironmentVariable("KIVO_ALIASES");
    if (!explicitPath.isEmpty())
        return explicitPath;
    if (QFileInfo::exists(QStringLiteral("aliases.ini")))
        return QDir::current().absoluteFilePath(QStringLiteral("aliases.ini"));
    const QString config = envOr("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
    return config + QStringLiteral("/kivo-ip/aliases.ini");
}

QString AliasConfig::dataDirectory() {
    return envOr("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share")) +
           QStringLiteral("/kivo-ip");
}

QString AliasConfig::embeddedPath(const QString& alias) {
    // An alias is a name, never a path: separators must not leave the directory.
    QString file = alias;
    file.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    return dataDirectory() + QLatin1Char('/') + file + QStringLiteral(".sqlite");
}

AliasDefinition AliasConfig::definitionFor(const QString& alias) {
    const QString path = configPath();
    Section section;
    if (!findSection(path, alias, section)) {
        AliasDefinition def;
        def.path = embeddedPath(alias);
        def.embedded = true;
        return def;
    }
    const QString driver = section.value(QStringLiteral("driver")).toLower();
    AliasDefinition def;
    if (driver == QLatin1String("sqlite"))
        def = sqliteDefinition(alias, section, path);
    else if (driver == QLatin1String("postgres") || driver == QLatin1String("postgresql"))
        def = postgresDefinition(alias, section);
    else if (driver == QLatin1String("odbc"))
        def = odbcDefinition(alias, section);
    else
        throw badAlias(alias, QStringLiteral("unknown Driver='%1'").arg(driver));
    def.password = section.value(QStringLiteral("password"));
    return def;
}
