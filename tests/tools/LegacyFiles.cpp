#include "LegacyFiles.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QStringEncoder>
#include <QTime>
#include <cstring>
#include <shapefil.h>
#include <vector>
extern "C" {
#include <paradox.h>
}

namespace {

constexpr long kSerialDayOfDayZero = 1721425;

int fixedLength(char type) {
    switch (type) {
    case pxfShort:
        return 2;
    case pxfLong:
    case pxfAutoInc:
    case pxfDate:
    case pxfTime:
        return 4;
    case pxfLogical:
        return 1;
    default:
        return 8; // Number, Money, Timestamp
    }
}

QByteArray encoded(const QVariant& value, const char* codec) {
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    QStringEncoder encoder(codec);
    return encoder.encode(value.toString());
}

long dayNumber(const QDate& date) {
    return PX_GregorianToSdn(date.year(), date.month(), date.day()) - kSerialDayOfDayZero;
}

void putParadoxValue(pxdoc_t* doc, char* data, const ParadoxColumn& column, int length,
                     const QVariant& value, const char* codec) {
    if (value.isNull())
        return; // all zero bytes: an empty field
    switch (column.type) {
    case pxfAlpha: {
        QByteArray bytes = encoded(value, codec);
        bytes.append('\0');
        PX_put_data_alpha(doc, data, length, bytes.data());
        break;
    }
    case pxfShort:
        PX_put_data_short(doc, data, length, short(value.toInt()));
        break;
    case pxfLong:
    case pxfAutoInc:
        PX_put_data_long(doc, data, length, value.toInt());
        break;
    case pxfLogical:
        PX_put_data_byte(doc, data, length, value.toBool() ? 1 : 0);
        break;
    // A whole number is written as it stands, so that values no date or time
    // holds can be written too.
    case pxfDate:
        PX_put_data_long(doc, data, length,
                         value.typeId() == QMetaType::Int ? value.toInt()
                                                          : int(dayNumber(value.toDate())));
        break;
    case pxfTime:
        PX_put_data_long(doc, data, length,
                         value.typeId() == QMetaType::Int ? value.toInt()
                                                          : value.toTime().msecsSinceStartOfDay());
        break;
    case pxfTimestamp: {
        const QDateTime stamp = value.toDateTime();
        PX_put_data_double(doc, data, length,
                           double(dayNumber(stamp.date())) * 86400000.0 +
                               stamp.time().msecsSinceStartOfDay());
        break;
    }
    default:
        PX_put_data_double(doc, data, length, value.toDouble());
        break;
    }
}

} // namespace

void writeParadoxFile(const QString& path, const QList<ParadoxColumn>& columns,
                      const LegacyRows& rows, int codePage) {
    QFile::remove(path);
    pxdoc_t* doc = PX_new();
    std::vector<QByteArray> names;
    std::vector<pxfield_t> fields(size_t(columns.size()));
    for (int i = 0; i < columns.size(); ++i) {
        names.push_back(columns[i].name.toLatin1());
        fields[size_t(i)].px_fname = names.back().data();
        fields[size_t(i)].px_ftype = columns[i].type;
        fields[size_t(i)].px_flen =
            columns[i].type == pxfAlpha ? columns[i].length : fixedLength(columns[i].type);
        fields[size_t(i)].px_fdc = 0;
    }
    // pxlib takes ownership of the field array it is given.
    auto* owned =
        static_cast<pxfield_t*>(doc->malloc(doc, sizeof(pxfield_t) * fields.size(), "fields"));
    for (size_t i = 0; i < fields.size(); ++i) {
        owned[i] = fields[i];
        owned[i].px_fname =
            static_cast<char*>(doc->malloc(doc, size_t(names[i].size() + 1), "name"));
        std::strcpy(owned[i].px_fname, names[i].constData());
    }
    if (PX_create_file(doc, owned, int(fields.size()), QFile::encodeName(path).constData(),
                       pxfFileTypNonIndexDB) < 0)
        qFatal("pxlib cannot create %s", qPrintable(path));
    PX_set_value(doc, "codepage", float(codePage));
    const QByteArray codec = codePage >= 1250 && codePage <= 1258
                                 ? "windows-" + QByteArray::number(codePage)
                                 : "IBM" + QByteArray::number(codePage);
    std::vector<char> record(size_t(PX_get_recordsize(doc)));
    for (const QVariantList& row : rows) {
        std::fill(record.begin(), record.end(), 0);
        char* data = record.data();
        for (int i = 0; i < columns.size(); ++i) {
            putParadoxValue(doc, data, columns[i], owned[i].px_flen, row.value(i),
                            codec.constData());
            data += owned[i].px_flen;
        }
        if (PX_put_record(doc, record.data()) < 0)
            qFatal("pxlib cannot write a record");
    }
    PX_close(doc);
    PX_delete(doc);
}

void writeDbfFile(const QString& path, const QList<DbfColumn>& columns, const LegacyRows& rows,
                  const QString& codePage, const QList<int>& deletedRows) {
    QFile::remove(path);
    DBFHandle dbf =
        DBFCreateEx(QFile::encodeName(path).constData(), codePage.toLatin1().constData());
    if (!dbf)
        qFatal("shapelib cannot create %s", qPrintable(path));
    for (const DbfColumn& column : columns)
        if (DBFAddNativeFieldType(dbf, column.name.toLatin1().constData(), column.type,
                                  column.width, column.decimals) < 0)
            qFatal("shapelib cannot add a field");
    const char* codec = codePage == QLatin1String("LDID/2") ? "IBM850" : "windows-1252";
    for (int r = 0; r < rows.size(); ++r) {
        for (int i = 0; i < columns.size(); ++i) {
            const QVariant value = rows[r].value(i);
            if (value.isNull()) {
                DBFWriteNULLAttribute(dbf, r, i);
                continue;
            }
            QByteArray text;
            switch (columns[i].type) {
            case 'L':
                text = value.toBool() ? "T" : "F";
                break;
            case 'D':
                text = value.toDate().isValid() ? value.toDate().toString("yyyyMMdd").toLatin1()
                                                : value.toByteArray();
                break;
            default:
                text = encoded(value, codec);
                break;
            }
            // Written as the file's own text, so that values no number type
            // holds can be written too.
            DBFWriteAttributeDirectly(dbf, r, i, text.data());
        }
        if (deletedRows.contains(r + 1))
            DBFMarkRecordDeleted(dbf, r, 1);
    }
    DBFClose(dbf);
    // shapelib names the file it creates with a lower-case ".dbf".
    const QString created = path.left(path.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".dbf");
    if (created != path && !QFile::rename(created, path))
        qFatal("cannot rename %s", qPrintable(created));
}

QList<ParadoxColumn> lecturaColumns() {
    return {{"Codigo", pxfLong}, {"Hora", pxfTime},      {"Fecha", pxfDate},      {"Loc", pxfLong},
            {"Cta", pxfLong},    {"NroTicket", pxfLong}, {"Origen", pxfAlpha, 20}};
}

QList<ParadoxColumn> logColumns() {
    return {{"Fecha", pxfDate},
            {"Hora", pxfTime},
            {"Archivo", pxfAlpha, 255},
            {"NroRegAsist", pxfLong}};
}

QList<ParadoxColumn> confRegIPColumns() {
    return {{"IP", pxfAlpha, 15},
            {"Desc", pxfAlpha, 40},
            {"Loc", pxfAlpha, 10},
            {"Activo", pxfLogical}};
}

QList<DbfColumn> personalColumns() {
    return {{"CODIGO", 'N', 10, 0},  {"NOMBRES", 'C', 20}, {"APELLIDOS", 'C', 20},
            {"TARJETA", 'N', 11, 0}, {"GRUPO", 'C', 20},   {"SERV_TAXI", 'L', 1}};
}

QList<DbfColumn> cecoColumns() {
    return {{"CECO", 'N', 11, 0}, {"OVERTIME", 'N', 11, 0}, {"VIAJES", 'N', 11, 0}};
}
