#pragma once

#include <QDate>
#include <QString>

// The output file of an automatic cycle: the path prefix, joined without a
// separator, followed by the start date as yyyymmdd and ".txt".
QString automaticOutputPath(const QString& prefix, const QDate& startDate);
