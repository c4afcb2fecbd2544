// Paradox tables through pxlib.
#include "CodePage.h"
#include "IsolatedRead.h"
#include "LegacyTable.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <memory>
// pxlib's header declares C functions without saying so.
extern "C" {
#include <paradox.h>
}

namespace {

// Paradox counts days from 1 January of the year 1; pxlib converts serial
// day numbers, which count from 24 November 4714 BC.
constexpr long kSerialDayOfDayZero = 1721425;
constexpr double kMillisecondsPerDay = 86400000.0;

struct PxMessages {
    QStringList errors;
};

void collectError(pxdoc_t*, int type, const char* message, void* data) {
    if (type != PX_Warning)
        static_cast<PxMessages*>(data)->errors << QString::fromLocal8Bit(message).trimmed();
}

struct PxCloser {
    void operator()(pxdoc_t* doc) const {
        PX_close(doc);
        PX_delete(doc);
    }
};
using PxDocument = std::unique_ptr<pxdoc_t, PxCloser>;

LegacyType typeOf(char pxType) {
    switch (pxType) {
    case pxfAlpha:
        return LegacyType::Text;
    case pxfShort:
    case pxfLong:
    case pxfAutoInc:
        return LegacyType::Integer;
    case pxfNumber:
    case pxfCurrency:
    case pxfBCD:
        return LegacyType::Float;
    case pxfLogical:
        return LegacyType::Logical;
    case pxfDate:
        return LegacyType::Date;
    case pxfTime:
        return LegacyType::Time;
    case pxfTimestamp:
        return LegacyType::Timestamp;
    default:
        return LegacyType::Unsupported;
    }
}

QString nativeName(char pxType) {
    switch (pxType) {
    case pxfAlpha:
        return QStringLiteral("Alpha");
    case pxfShort:
        return QStringLiteral("Short");
    case pxfLong:
        return QStringLiteral("Long Integer");
    case pxfAutoInc:
        return QStringLiteral("Autoincrement");
    case pxfNumber:
        return QStringLiteral("Number");
    case pxfCurrency:
        return QStringLiteral("Money");
    case pxfBCD:
        return QStringLiteral("BCD");
    case pxfLogical:
        return QStringLiteral("Logical");
    case pxfDate:
        return QStringLiteral("Date");
    case pxfTime:
        return QStringLiteral("Time");
    case pxfTimestamp:
        return QStringLiteral("Timestamp");
    case pxfMemoBLOb:
    case pxfFmtMemoBLOb:
        return QStringLiteral("Memo");
    default:
        return QStringLiteral("tipo %1").arg(int(static_cast<unsigned char>(pxType)));
    }
}

QDate dateOfDayNumber(long days) {
    int year = 0, month = 0, day = 0;
    PX_SdnToGregorian(days + kSerialDayOfDayZero, &year, &month, &day);
    return QDate(year, month, day);
}

// A truncated file would have pxlib read past its end: the header's blocks
// must all be there.
void requireWholeFile(const QString& path, const pxhead_t& head) {
    const qint64 blockSize = qint64(head.px_maxtablesize) * 0x400;
    const qint64 expected = qint64(head.px_headersize) + qint64(head.px_fileblocks) * blockSize;
    const qint64 size = QFileInfo(path).size();
    if (head.px_numfields <= 0 || head.px_recordsize <= 0 || blockSize <= 0 ||
        head.px_numrecords < 0 || size < expected)
        throw ELegacyTable(
            QStringLiteral("el archivo está truncado o dañado (%1 bytes; su cabecera requiere %2)")
                .arg(size)
                .arg(expected));
}

// Fields longer in all than a record would have each row read past its
// buffer.
void requireFieldsWithinRecord(const pxhead_t& head) {
    qint64 total = 0;
    for (int i = 0; i < head.px_numfields; ++i)
        total += head.px_fields[i].px_flen > 0 ? head.px_fields[i].px_flen : head.px_recordsize + 1;
    if (total > head.px_recordsize)
        throw ELegacyTable(QStringLiteral("el archivo está dañado: sus campos suman %1 bytes y "
                                          "cada registro tiene %2")
                               .arg(total)
                               .arg(head.px_recordsize));
}

quint32 littleEndian(const QByteArray& bytes, int offset, int size) {
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes[offset + i]);
    return value;
}

// pxlib trusts the header: with damaged counts it reads, decrypts or walks
// blocks that are not there, for ever. The counts it would use must fit the
// file before it is given the file.
void requirePlausibleHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ELegacyTable(
            QStringLiteral("no se puede leer el archivo: %1").arg(file.errorString()));
    const QByteArray head = file.read(0x58);
    const qint64 size = file.size();
    if (head.size() < 0x58)
        throw ELegacyTable(
            QStringLiteral("no es una tabla Paradox: el archivo es demasiado corto"));
    const quint32 recordSize = littleEndian(head, 0x00, 2);
    const quint32 headerSize = littleEndian(head, 0x02, 2);
    const quint32 blockKb = quint8(head[0x05]);
    const quint32 records = littleEndian(head, 0x06, 4);
    const quint32 blocks = littleEndian(head, 0x0C, 2);
    const quint32 firstBlock = littleEndian(head, 0x0E, 2);
    const quint32 lastBlock = littleEndian(head, 0x10, 2);
    const qint64 blockSize = qint64(blockKb) * 0x400;
    const bool blockKnown = blockKb == 1 || blockKb == 2 || blockKb == 3 || blockKb == 4 ||
                            blockKb == 8 || blockKb == 16 || blockKb == 32;
    const bool fits = blockKnown && recordSize > 0 && headerSize >= 0x58 && headerSize <= size &&
                      qint64(headerSize) + qint64(blocks) * blockSize <= size &&
                      qint64(records) <= qint64(blocks) * (blockSize / recordSize) &&
                      firstBlock <= blocks && lastBlock <= blocks;
    if (!fits)
        throw ELegacyTable(QStringLiteral("no es una tabla Paradox, o está truncada o dañada: su "
                                          "cabecera no corresponde al archivo (%1 bytes)")
                               .arg(size));
}

class ParadoxFile {
public:
    ParadoxFile(const QString& path, const QString& codec) : m_path(path), m_codec(codec) {
        m_doc.reset(PX_new3(collectError, nullptr, nullptr, nullptr, &m_messages));
        if (!m_doc)
            throw ELegacyTable(QStringLiteral("pxlib no pudo iniciarse"));
        if (PX_open_file(m_doc.get(), QFile::encodeName(path).constData()) < 0)
            throw ELegacyTable(QStringLiteral("no es una tabla Paradox: %1").arg(why()));
        requireWholeFile(path, *m_doc->px_head);
        requireFieldsWithinRecord(*m_doc->px_head);
    }

    // The head, then every row, into the sink.
    void read(RowSink& sink) {
        LegacyTable table;
        table.path = m_path;
        if (!m_codec.isEmpty()) {
            table.codec = m_codec;
            table.codecOrigin = QStringLiteral("elegida con --codepage");
        } else {
            const int named = m_doc->px_head->px_doscodepage;
            table.codec = codecForParadoxCodePage(named);
            table.codecOrigin = named > 0
                                    ? QStringLiteral("indicada por el archivo (%1)").arg(named)
                                    : QStringLiteral("el archivo no indica ninguna");
        }
        agreeWithHeader(table);
        const int count = PX_get_num_fields(m_doc.get());
        for (int i = 0; i < count; ++i) {
            const pxfield_t* field = PX_get_field(m_doc.get(), i);
            table.columns.append({QString::fromLatin1(field->px_fname), typeOf(field->px_ftype),
                                  nativeName(field->px_ftype)});
        }
        sink.head(table);
        std::vector<char> buffer(static_cast<size_t>(PX_get_recordsize(m_doc.get())));
        const int records = PX_get_num_records(m_doc.get());
        for (int recno = 0; recno < records; ++recno) {
            if (!PX_get_record(m_doc.get(), recno, buffer.data()))
                throw ELegacyTable(QStringLiteral("no se puede leer el registro %1: %2")
                                       .arg(recno + 1)
                                       .arg(why()));
            sink.row(rowOf(recno + 1, buffer.data()));
        }
    }

private:
    QString why() const {
        if (!m_messages.errors.isEmpty())
            return m_messages.errors.join(QStringLiteral("; "));
        const QString system = openProblem(m_path);
        return system.isEmpty() ? QStringLiteral("pxlib no da el motivo") : system;
    }

    // The rows the data blocks hold, as pxlib counted them when it opened the
    // file, against the header's count. Whole rows past the count are read
    // too, and said; counted rows that are not in the blocks refuse the table.
    void agreeWithHeader(LegacyTable& table) {
        pxhead_t& head = *m_doc->px_head;
        if (!m_doc->px_indexdata)
            return;
        qint64 inBlocks = 0;
        const auto* index = static_cast<const pxpindex_t*>(m_doc->px_indexdata);
        for (int i = 0; i < m_doc->px_indexdatalen; ++i)
            inBlocks += index[i].numrecords;
        if (inBlocks == head.px_numrecords)
            return;
        if (inBlocks < head.px_numrecords)
            throw ELegacyTable(
                QStringLiteral("la cabecera cuenta %1 registros, pero los bloques de datos del "
                               "archivo tienen solo %2: el archivo está dañado")
                    .arg(head.px_numrecords)
                    .arg(inBlocks));
        table.notes << QStringLiteral("la cabecera cuenta %1 registros, pero los bloques de datos "
                                      "del archivo tienen %2 registros completos: se leen los %2")
                           .arg(head.px_numrecords)
                           .arg(inBlocks);
        head.px_numrecords = int(inBlocks);
    }

    LegacyRow rowOf(int number, char* data) {
        LegacyRow row;
        row.number = number;
        const int count = PX_get_num_fields(m_doc.get());
        for (int i = 0; i < count; ++i) {
            const pxfield_t* field = PX_get_field(m_doc.get(), i);
            row.cells.push_back(cellOf(*field, data));
            data += field->px_flen;
        }
        return row;
    }

    LegacyCell cellOf(const pxfield_t& field, char* data) {
        pxdoc_t* doc = m_doc.get();
        const int len = field.px_flen;
        LegacyCell cell;
        // All zero bytes are an empty field of any type; pxlib reads an empty
        // Long as its smallest value.
        if (std::all_of(data, data + len, [](char byte) { return byte == 0; }))
            return cell;
        int found = 0;
        switch (field.px_ftype) {
        case pxfAlpha: {
            char* text = nullptr;
            found = PX_get_data_alpha(doc, data, len, &text);
            if (found > 0 && text) {
                cell.value = QByteArray(text, qstrnlen(text, size_t(len)));
                doc->free(doc, text);
            }
            break;
        }
        case pxfShort: {
            short int value = 0;
            found = PX_get_data_short(doc, data, len, &value);
            cell.value = qint64(value);
            break;
        }
        case pxfLong:
        case pxfAutoInc: {
            long value = 0;
            found = PX_get_data_long(doc, data, len, &value);
            cell.value = qint64(value);
            break;
        }
        case pxfNumber:
        case pxfCurrency: {
            double value = 0;
            found = PX_get_data_double(doc, data, len, &value);
            cell.value = value;
            break;
        }
        case pxfBCD: {
            char* text = nullptr;
            found = PX_get_data_bcd(doc, reinterpret_cast<unsigned char*>(data), len, &text);
            if (found > 0 && text) {
                cell.value = QString::fromLatin1(text).toDouble();
                doc->free(doc, text);
            }
            break;
        }
        case pxfLogical: {
            char value = 0;
            found = PX_get_data_byte(doc, data, len, &value);
            cell.value = value != 0;
            break;
        }
        case pxfDate: {
            long days = 0;
            found = PX_get_data_long(doc, data, len, &days);
            const QDate date = dateOfDayNumber(days);
            if (found > 0 && !date.isValid())
                cell.problem = QStringLiteral("el día número %1 no es una fecha").arg(days);
            cell.value = date;
            break;
        }
        case pxfTime: {
            long ms = 0;
            found = PX_get_data_long(doc, data, len, &ms);
            if (found > 0 && (ms < 0 || ms >= kMillisecondsPerDay))
                cell.problem = QStringLiteral("%1 ms no es una hora del día").arg(ms);
            cell.value = QTime::fromMSecsSinceStartOfDay(int(ms));
            break;
        }
        case pxfTimestamp: {
            double ms = 0;
            found = PX_get_data_double(doc, data, len, &ms);
            cell.value = timestampOf(ms, cell.problem);
            break;
        }
        default:
            // Memo, graphic and byte fields: present but not readable as values.
            found = 1;
            cell.value = QByteArray(data, len);
            break;
        }
        if (found < 0)
            cell.problem = QStringLiteral("no se puede leer el campo");
        if (found == 0)
            cell.value = QVariant();
        return cell;
    }

    static QVariant timestampOf(double ms, QString& problem) {
        const double days = std::floor(ms / kMillisecondsPerDay);
        if (!(ms >= 0 && days < 4e6)) {
            problem = QStringLiteral("%1 ms no es una fecha y hora").arg(ms, 0, 'f', 0);
            return {};
        }
        const QDate date = dateOfDayNumber(long(days));
        const int inDay = std::min(int(std::llround(ms - days * kMillisecondsPerDay)),
                                   int(kMillisecondsPerDay) - 1);
        if (!date.isValid()) {
            problem = QStringLiteral("%1 ms no es una fecha y hora").arg(ms, 0, 'f', 0);
            return {};
        }
        // UTC only as a carrier: no time zone may move a wall-clock time.
        return QDateTime(date, QTime::fromMSecsSinceStartOfDay(inDay), Qt::UTC);
    }

    QString m_path;
    QString m_codec;
    PxMessages m_messages;
    PxDocument m_doc;
};

} // namespace

QString openProblem(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        return {};
    return file.errorString();
}

void requireTableFile(const QString& path) {
    // The system's reason first: a file that cannot be opened may also not
    // look like a file (a link to nowhere, a link to itself).
    const QString problem = openProblem(path);
    if (!problem.isEmpty())
        throw ELegacyTable(QStringLiteral("no se puede leer el archivo: %1").arg(problem));
    if (!QFileInfo(path).isFile())
        throw ELegacyTable(QStringLiteral("no es un archivo"));
    if (QFileInfo(path).size() == 0)
        throw ELegacyTable(QStringLiteral("el archivo está vacío"));
}

std::unique_ptr<LegacyReader> openParadoxTable(const QString& path, const QString& codec) {
    requireTableFile(path);
    requirePlausibleHeader(path);
    // pxlib follows the chain of blocks a damaged file names, however long,
    // and a damaged encrypted file has no chain one could check beforehand.
    // Opening walks every block, so the first wait grows with the file.
    const qint64 megabytes = QFileInfo(path).size() / (1024 * 1024);
    return readInChildProcess(
        [path, codec](RowSink& sink) {
            ParadoxFile file(path, codec);
            file.read(sink);
        },
        int(std::min<qint64>(30000 + 2000 * megabytes, 600000)));
}
