#pragma once

#include "report/TicketReport.h"
#include "store/DataSet.h"

#include <QObject>

// The printed report layout: never shown itself, it carries the report
// definition and the report's query.
class TfpConsulta1 : public QObject {
    Q_OBJECT
public:
    explicit TfpConsulta1(QObject* parent = nullptr);
    ReportDefinition Report1;
    TQuery Table1;
};
