#include "IsolatedRead.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QIODevice>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QDataStream& operator<<(QDataStream& out, const LegacyTable& table) {
    out << table.path << table.codec << table.codecOrigin << table.notes
        << qint32(table.columns.size());
    for (const LegacyColumn& column : table.columns)
        out << column.name << qint32(column.type) << column.nativeType;
    out << qint64(table.rows.size());
    for (const LegacyRow& row : table.rows) {
        out << qint32(row.number) << row.deleted << qint32(row.cells.size());
        for (const LegacyCell& cell : row.cells)
            out << cell.value << cell.problem;
    }
    return out;
}

QDataStream& operator>>(QDataStream& in, LegacyTable& table) {
    qint32 columns = 0;
    in >> table.path >> table.codec >> table.codecOrigin >> table.notes >> columns;
    for (qint32 i = 0; i < columns && in.status() == QDataStream::Ok; ++i) {
        LegacyColumn column;
        qint32 type = 0;
        in >> column.name >> type >> column.nativeType;
        column.type = LegacyType(type);
        table.columns.append(column);
    }
    qint64 rows = 0;
    in >> rows;
    for (qint64 r = 0; r < rows && in.status() == QDataStream::Ok; ++r) {
        LegacyRow row;
        qint32 number = 0, cells = 0;
        in >> number >> row.deleted >> cells;
        row.number = number;
        for (qint32 c = 0; c < cells && in.status() == QDataStream::Ok; ++c) {
            LegacyCell cell;
            in >> cell.value >> cell.problem;
            row.cells.push_back(cell);
        }
        table.rows.push_back(std::move(row));
    }
    return in;
}

void writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

[[noreturn]] void runChild(int fd, const std::function<LegacyTable()>& read) {
    QByteArray result;
    {
        QDataStream out(&result, QIODevice::WriteOnly);
        try {
            const LegacyTable table = read();
            out << true << table;
        } catch (const Exception& error) {
            out << false << error.message();
        }
    }
    writeAll(fd, result);
    ::close(fd);
    _exit(0); // no exit handlers of the parent's objects
}

// Everything the child writes, or false when the time runs out first.
bool readUntilEnd(int fd, QDeadlineTimer deadline, QByteArray& bytes) {
    char buffer[65536];
    for (;;) {
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        bytes.append(buffer, n);
    }
}

} // namespace

LegacyTable readInChildProcess(const std::function<LegacyTable()>& read, int timeLimitMs) {
    int fds[2];
    if (::pipe(fds) != 0)
        throw ELegacyTable(QStringLiteral("cannot start the reader: no pipe"));
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw ELegacyTable(QStringLiteral("cannot start the reader: no process"));
    }
    if (child == 0) {
        ::close(fds[0]);
        runChild(fds[1], read);
    }
    ::close(fds[1]);
    QByteArray bytes;
    const bool finished = readUntilEnd(fds[0], QDeadlineTimer(timeLimitMs), bytes);
    ::close(fds[0]);
    if (!finished)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished)
        throw ELegacyTable(QStringLiteral("the file is damaged: reading it did not end within %1 s")
                               .arg(timeLimitMs / 1000));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw ELegacyTable(QStringLiteral("the file is damaged: its reader stopped (signal %1)")
                               .arg(WIFSIGNALED(status) ? WTERMSIG(status) : 0));
    QDataStream in(bytes);
    bool ok = false;
    in >> ok;
    if (!ok) {
        QString message;
        in >> message;
        throw ELegacyTable(message.isEmpty() ? QStringLiteral("the file cannot be read") : message);
    }
    LegacyTable table;
    in >> table;
    if (in.status() != QDataStream::Ok)
        throw ELegacyTable(QStringLiteral("the reader's result is incomplete"));
    return table;
}
