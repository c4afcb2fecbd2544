#include "IsolatedRead.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QIODevice>
#include <QtEndian>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The child sends frames: a kind byte, a 32-bit little-endian length, then
// the payload, a QDataStream.
enum class Frame : quint8 { Head = 1, Rows = 2, Note = 3, End = 4, Error = 5 };
constexpr int kFrameHead = 5;

void writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(0); // the parent has gone or given up: nothing to send it
        done += n;
    }
}

void sendFrame(int fd, Frame kind, const QByteArray& payload) {
    QByteArray frame(kFrameHead, '\0');
    frame[0] = char(kind);
    qToLittleEndian(quint32(payload.size()), frame.data() + 1);
    writeAll(fd, frame + payload);
}

template <typename... T> QByteArray encode(const T&... values) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    (out << ... << values);
    return bytes;
}

void writeHead(QDataStream& out, const LegacyTable& table) {
    out << table.path << table.codec << table.codecOrigin << table.notes
        << qint32(table.columns.size());
    for (const LegacyColumn& column : table.columns)
        out << column.name << qint32(column.type) << column.nativeType;
}

void readHead(QDataStream& in, LegacyTable& table) {
    qint32 columns = 0;
    in >> table.path >> table.codec >> table.codecOrigin >> table.notes >> columns;
    for (qint32 i = 0; i < columns && in.status() == QDataStream::Ok; ++i) {
        LegacyColumn column;
        qint32 type = 0;
        in >> column.name >> type >> column.nativeType;
        column.type = LegacyType(type);
        table.columns.append(column);
    }
}

void writeRow(QDataStream& out, const LegacyRow& row) {
    out << qint32(row.number) << row.deleted << qint32(row.cells.size());
    for (const LegacyCell& cell : row.cells)
        out << cell.value << cell.problem;
}

void readRow(QDataStream& in, LegacyRow& row) {
    qint32 number = 0, cells = 0;
    in >> number >> row.deleted >> cells;
    row.number = number;
    for (qint32 c = 0; c < cells && in.status() == QDataStream::Ok; ++c) {
        LegacyCell cell;
        in >> cell.value >> cell.problem;
        row.cells.push_back(std::move(cell));
    }
}

// The child's side: rows go out a batch at a time.
class PipeSink : public RowSink {
public:
    explicit PipeSink(int fd) : m_fd(fd) {}
    void head(const LegacyTable& head) override {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        writeHead(out, head);
        sendFrame(m_fd, Frame::Head, bytes);
        m_rows.reset(new QDataStream(&m_batch, QIODevice::WriteOnly));
    }
    void row(LegacyRow row) override {
        writeRow(*m_rows, row);
        if (++m_count == kRowsPerBatch)
            flush();
    }
    void note(const QString& note) override {
        flush();
        sendFrame(m_fd, Frame::Note, encode(note));
    }
    void flush() {
        if (m_count == 0)
            return;
        sendFrame(m_fd, Frame::Rows, encode(qint32(m_count)) + m_batch);
        m_batch.clear();
        m_rows->device()->seek(0);
        m_count = 0;
    }

private:
    int m_fd;
    QByteArray m_batch;
    std::unique_ptr<QDataStream> m_rows;
    int m_count = 0;
};

[[noreturn]] void runChild(int fd, const std::function<void(RowSink&)>& read) {
    {
        PipeSink sink(fd);
        try {
            read(sink);
            sink.flush();
            sendFrame(fd, Frame::End, {});
        } catch (const Exception& error) {
            sink.flush();
            sendFrame(fd, Frame::Error, encode(error.message()));
        }
    }
    ::close(fd);
    _exit(0); // no exit handlers of the parent's objects
}

// The parent's side.
class ChildReader : public LegacyReader {
public:
    ChildReader(const std::function<void(RowSink&)>& read, int idleLimitMs)
        : m_idleLimitMs(idleLimitMs) {
        int fds[2];
        if (::pipe(fds) != 0)
            throw ELegacyTable(
                QStringLiteral("no se puede iniciar el lector: no se pudo crear la tubería"));
        m_child = ::fork();
        if (m_child < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            throw ELegacyTable(
                QStringLiteral("no se puede iniciar el lector: no se pudo crear el proceso"));
        }
        if (m_child == 0) {
            ::close(fds[0]);
            runChild(fds[1], read);
        }
        ::close(fds[1]);
        m_fd = fds[0];
        try {
            QByteArray payload;
            if (receive(payload) != Frame::Head)
                fail(QStringLiteral("el resultado del lector está incompleto"));
            QDataStream in(payload);
            readHead(in, m_head);
            if (in.status() != QDataStream::Ok)
                fail(QStringLiteral("el resultado del lector está incompleto"));
        } catch (...) {
            stop();
            throw;
        }
    }

    ~ChildReader() override { stop(); }

    bool next(std::vector<LegacyRow>& rows) override {
        rows.clear();
        while (!m_ended) {
            QByteArray payload;
            const Frame kind = receive(payload);
            QDataStream in(payload);
            if (kind == Frame::End) {
                m_ended = true;
                stop();
                return false;
            }
            if (kind == Frame::Note) {
                QString note;
                in >> note;
                m_trailing << note;
                continue;
            }
            if (kind != Frame::Rows)
                fail(QStringLiteral("el resultado del lector está incompleto"));
            qint32 count = 0;
            in >> count;
            rows.resize(size_t(std::max(0, count)));
            for (LegacyRow& row : rows)
                readRow(in, row);
            if (in.status() != QDataStream::Ok)
                fail(QStringLiteral("el resultado del lector está incompleto"));
            return true;
        }
        return false;
    }

private:
    [[noreturn]] void fail(const QString& message) {
        stop();
        throw ELegacyTable(message);
    }

    // One frame; an error frame, a child that died or that sends nothing in
    // time raise.
    Frame receive(QByteArray& payload) {
        QByteArray head;
        if (!readExactly(kFrameHead, head))
            failedChild();
        const quint32 length = qFromLittleEndian<quint32>(head.constData() + 1);
        if (!readExactly(qsizetype(length), payload))
            failedChild();
        const Frame kind = Frame(quint8(head[0]));
        if (kind == Frame::Error) {
            QString message;
            QDataStream in(payload);
            in >> message;
            fail(message.isEmpty() ? QStringLiteral("no se puede leer el archivo") : message);
        }
        return kind;
    }

    // False at the end of the pipe; raises when the child sends nothing in time.
    bool readExactly(qsizetype size, QByteArray& bytes) {
        bytes.resize(size);
        qsizetype done = 0;
        QDeadlineTimer deadline(m_idleLimitMs);
        while (done < size) {
            pollfd wait{m_fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, int(std::max<qint64>(0, deadline.remainingTime())));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0)
                fail(QStringLiteral("el archivo está dañado: su lectura no terminó en %1 s")
                         .arg(m_idleLimitMs / 1000));
            const ssize_t n = ::read(m_fd, bytes.data() + done, size_t(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
            deadline.setRemainingTime(m_idleLimitMs);
        }
        return true;
    }

    [[noreturn]] void failedChild() {
        // The pipe's end: the child has ended or is ending, on its own.
        m_ended = true;
        const int status = stop();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw ELegacyTable(
                QStringLiteral("el archivo está dañado: su lector se detuvo (señal %1)")
                    .arg(WIFSIGNALED(status) ? WTERMSIG(status) : 0));
        throw ELegacyTable(QStringLiteral("el resultado del lector está incompleto"));
    }

    // Ends the child (if it still runs) and returns how it ended.
    int stop() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        if (m_child > 0) {
            if (!m_ended)
                ::kill(m_child, SIGKILL);
            while (::waitpid(m_child, &m_status, 0) < 0 && errno == EINTR) {
            }
            m_child = 0;
        }
        return m_status;
    }

    int m_idleLimitMs;
    int m_fd = -1;
    pid_t m_child = 0;
    int m_status = 0;
    bool m_ended = false;
};

} // namespace

std::unique_ptr<LegacyReader> readInChildProcess(std::function<void(RowSink&)> read,
                                                 int idleLimitMs) {
    return std::make_unique<ChildReader>(read, idleLimitMs);
}
