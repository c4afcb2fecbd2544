#include "platform/CommandLineHelp.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

void addInformationOptions(QCommandLineParser& parser) {
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")},
                      QStringLiteral("Muestra esta ayuda y termina.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")},
                      QStringLiteral("Muestra el nombre y la versión del programa y termina.")});
}

QString spanishHelpText(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    if (text.startsWith(QLatin1String("Usage: ")))
        text.replace(0, 7, QStringLiteral("Uso: "));
    // Only the first line holds "[options]"; the headings stand alone on theirs.
    const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
    const qsizetype options = text.indexOf(QLatin1String(" [options]"));
    if (options >= 0 && options < firstLineEnd)
        text.replace(options, 10, QStringLiteral(" [opciones]"));
    text.replace(QLatin1String("\nOptions:\n"), QLatin1String("\nOpciones:\n"));
    text.replace(QLatin1String("\nArguments:\n"), QLatin1String("\nArgumentos:\n"));
    return text;
}

void answerInformationOptions(const QCommandLineParser& parser) {
    QString text;
    if (parser.isSet(QStringLiteral("help")))
        text = spanishHelpText(parser);
    else if (parser.isSet(QStringLiteral("version")))
        text = QCoreApplication::applicationName() + QLatin1Char(' ') +
               QCoreApplication::applicationVersion() + QLatin1Char('\n');
    else
        return;
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    std::exit(0);
}
