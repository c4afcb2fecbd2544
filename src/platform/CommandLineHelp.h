#pragma once

#include <QString>

class QCommandLineParser;

// Qt's own -h/--help and -v/--version describe themselves in English, and its
// help says "Usage:" and "Options:" unless Qt's Spanish translation happens to
// be installed: the programs add these options instead and print this help.
void addInformationOptions(QCommandLineParser& parser);

// The parser's help with Spanish headings, whatever translation is loaded.
QString spanishHelpText(const QCommandLineParser& parser);

// Answers -h/--help or -v/--version on standard output and ends the program
// with status 0; returns when neither was given.
void answerInformationOptions(const QCommandLineParser& parser);
