#pragma once

#include "report/ReportDefinition.h"

// The client company named by the report's page header and the export's
// first line.
inline const QString kCompanyLine = QStringLiteral("JUX S.A. - Control de Taxis");

// The ticket report: Letter landscape, page header, title, column header,
// one detail band per ticket, summary and page footer with the page number.
ReportDefinition ticketReportDefinition();
