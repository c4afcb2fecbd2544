#pragma once

#include "store/DataSet.h"

#include <QObject>

// The printed report layout: never shown itself, it carries the report's query.
class TfpConsulta1 : public QObject {
    Q_OBJECT
public:
    explicit TfpConsulta1(QObject* parent = nullptr);
    TQuery Table1;
};
