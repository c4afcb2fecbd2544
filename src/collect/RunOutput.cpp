#include "collect/RunOutput.h"

#include "platform/DiskSync.h"
#include "platform/Errors.h"
#include "platform/TextCodec.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>

RunOutput::RunOutput(const QString& path, qint64 start) : m_file(path) {
    const bool existed = m_file.exists();
    // Read too: a run whose file was moved away copies its lines from it.
    if (!m_file.open(QIODevice::ReadWrite))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path, m_file.errorString()));
    if (existed && m_file.size() > start && !m_file.resize(start))
        throw Exception(
            QStringLiteral("Cannot cut back \"%1\". %2").arg(path, m_file.errorString()));
    m_start = m_file.size();
    m_file.seek(m_start);
}

QString RunOutput::identity() const {
    return fileIdentity(m_file);
}

void RunOutput::leaveOut(const QByteArray& held) {
    m_held = held;
}

void RunOutput::writeLine(const QString& line) {
    m_pending += toCp1252(line);
    m_pending += "\r\n";
    if (m_pending.size() >= 65536)
        writePending();
}

void RunOutput::finish() {
    writePending();
    if (m_matched < m_held.size() && !m_heldDiffers) {
        // The other file holds more than the run wrote: not the run's lines.
        m_heldDiffers = true;
        m_pending = m_held.left(m_matched);
        m_matched = 0;
        writePending();
    }
    if (!flushToDisk(m_file))
        fail(errno);
}

bool RunOutput::stillAtPath() const {
    const QString named = fileIdentity(m_file.fileName());
    return !named.isEmpty() && named == identity();
}

void RunOutput::copyTo(const QString& path) {
    QFile copy(path);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path, copy.errorString()));
    m_file.seek(m_start);
    while (!m_file.atEnd()) {
        const QByteArray block = m_file.read(65536);
        if (block.isEmpty() || copy.write(block) != block.size())
            throw Exception(
                QStringLiteral("Cannot write file \"%1\". %2").arg(path, copy.errorString()));
    }
    if (!flushToDisk(copy))
        throw Exception(QStringLiteral("Cannot write file \"%1\". %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    flushFolderToDisk(QFileInfo(path).absolutePath());
}

// The bytes the other file holds already are left out as long as the run's
// own begin with them; at the first difference all of them are written.
QByteArray RunOutput::withoutHeld(QByteArray bytes) {
    if (m_heldDiffers || m_matched >= m_held.size())
        return bytes;
    const qint64 n = std::min<qint64>(bytes.size(), m_held.size() - m_matched);
    if (std::memcmp(bytes.constData(), m_held.constData() + m_matched, size_t(n)) == 0) {
        m_matched += n;
        return bytes.mid(n);
    }
    m_heldDiffers = true;
    bytes.prepend(m_held.left(m_matched));
    m_matched = 0;
    return bytes;
}

void RunOutput::writePending() {
    const QByteArray bytes = withoutHeld(m_pending);
    errno = 0;
    if (m_file.write(bytes) != bytes.size())
        fail(errno);
    m_pending.clear();
}

// The system's reason: QFile says "Unknown error" for a write that failed
// inside its buffer (a full disk).
void RunOutput::fail(int error) {
    const QString why =
        error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : m_file.errorString();
    throw Exception(QStringLiteral("Cannot write file \"%1\". %2").arg(m_file.fileName(), why));
}
