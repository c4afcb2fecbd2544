#include "collect/OutputFileName.h"

QString automaticOutputPath(const QString& prefix, const QDate& startDate) {
    QString date =
        QString::asprintf("%4d%2d%2d", startDate.year(), startDate.month(), startDate.day());
    date.replace(QLatin1Char(' '), QLatin1Char('0'));
    return prefix + date + QStringLiteral(".txt");
}
