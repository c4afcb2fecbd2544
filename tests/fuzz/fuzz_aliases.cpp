// The alias configuration (an INI file): which alias stands for which
// database. Input: the alias name looked up on the first line, the
// configuration after it.
//
// Properties: an error is always the store's error (never another exception
// or a crash); an accepted definition is usable: a known driver, a port
// within 1..65535, a positive connect time-out, the field its driver needs,
// and a database file path that is absolute.

#include "FuzzSupport.h"
#include "store/Aliases.h"
#include "store/DatabaseError.h"

#include <QDir>

namespace {

// The configuration and the embedded databases in the scratch directory.
bool pointEnvironmentAtScratch() {
    qputenv("KIVO_ALIASES", fuzz::scratch(QStringLiteral("aliases.ini")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", fuzz::scratch(QStringLiteral("data")).toLocal8Bit());
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = pointEnvironmentAtScratch();
    (void)ready;
    fuzz::Input in(data, size);
    const QString alias = QString::fromUtf8(in.until('\n'));
    const QByteArray config = in.rest();
    fuzz::writeFile(AliasConfig::configPath(), config);
    AliasDefinition def;
    try {
        def = AliasConfig::definitionFor(alias);
    } catch (const EDatabaseError&) {
        return 0;
    }
    const QString what = alias + QStringLiteral("\n") + QString::fromUtf8(config);
    switch (def.driver) {
    case AliasDefinition::Driver::Sqlite:
        fuzz::check(QDir::isAbsolutePath(def.path), "a database file path is absolute", what);
        break;
    case AliasDefinition::Driver::Postgres:
        fuzz::check(!def.database.isEmpty(), "a postgres alias names its database", what);
        fuzz::check(def.port > 0 && def.port <= 65535, "a port is within 1..65535", what);
        break;
    case AliasDefinition::Driver::Odbc:
        fuzz::check(!def.connection.isEmpty(), "an odbc alias has its connection", what);
        break;
    }
    fuzz::check(def.connectTimeout > 0, "a connect time-out is positive", what);
    if (def.embedded)
        fuzz::check(QFileInfo(def.path).absolutePath() ==
                        QFileInfo(AliasConfig::embeddedPath(QStringLiteral("x"))).absolutePath(),
                    "an embedded database stays in the data directory", what);
    return 0;
}
