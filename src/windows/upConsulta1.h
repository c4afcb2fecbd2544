#pragma once

#include "report/ReportDefinition.h"
#include "store/DataSet.h"

#include <QObject>

// The client company named by the report's page header and the export's
// first line.
inline const QString kCompanyLine = QStringLiteral("JUX S.A. - Control de Taxis");

// The printed report layout: never shown itself, it carries the report
// definition and the report's query.
class TfpConsulta1 : public QObject {
    Q_OBJECT
public:
    explicit TfpConsulta1(QObject* parent = nullptr);
    ReportDefinition Report1;
    TQuery Table1;
};

// The ticket report: Letter landscape, page header, title, column header,
// one detail band per ticket, summary and page footer with the page number.
ReportDefinition ticketReportDefinition();
