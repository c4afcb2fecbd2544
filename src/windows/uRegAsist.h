#pragma once

#include "report/DataSetRows.h"
#include "report/preview/ReportPreview.h"
#include "store/DataSet.h"
#include "ui/DataSource.h"
#include "windows/SecondaryWindow.h"

#include <QDate>
#include <functional>

class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TDBGrid;
class TDBNavigator;
class TfpConsulta1;

// The ticket-records window: browse, report and export of the server table.
class TfRegAsist : public TSecondaryWindow {
    Q_OBJECT
public:
    explicit TfRegAsist(QWidget* parent = nullptr);
    ~TfRegAsist() override;

    TTable Table1;
    TDataSource DataSource1;
    TQuery Query1;
    // The printed report layout, created with the other windows.
    TfpConsulta1* fpConsulta1 = nullptr;

    TDBNavigator* DBNavigator1;
    QDateEdit *dtpDesde, *dtpHasta;
    QPushButton* bRep;
    QPushButton* bResumen;
    QGroupBox* gbExportar;
    QLineEdit* eSep;
    QPushButton* TBExportar;
    TDBGrid* DBGrid1;

    // SaveDialog1: the chosen path and the index of the chosen filter entry
    // (0 CSV, 1 all files, 2 Excel workbook); an empty path when cancelled.
    // Tests replace it.
    std::function<QString(int& filterIndex)> SaveDialog1Execute;

    // With the server alias "NONE" there is no table to show: says so instead.
    int ShowModal();

    void FormShow() override;
    void FormClose() override;
    void bRepClick();
    // The summary by cost centre of the range, in the preview; its save
    // dialog writes the summary's data table as separated values and offers
    // its workbook too. A reversed range is refused.
    void bResumenClick();
    // The summary's rows, and its workbook with the range's tickets.
    ReportRows summaryRows(const QDate& from, const QDate& to);
    void writeSummaryWorkbook(const QString& path, const ReportRows& summary, const QDate& from,
                              const QDate& to);
    void TBExportarClick();

    QDate desde() const;
    QDate hasta() const;

private:
    QWidget* buildStrip();
    SaveForms summarySaveForms(const ReportRows& rows, const QDate& from, const QDate& to);
    void buildGrid();
    QString executeSaveDialog(int& filterIndex);
};

// What "Resumen" answers for a range whose end is before its start.
QString reversedRangeText(const QDate& from, const QDate& to);

// The text shown when the server alias is "NONE".
inline const QString kNoServerTableText = QStringLiteral(
    "No hay una tabla de registros de taxi configurada: el alias del servidor es \"NONE\".");
