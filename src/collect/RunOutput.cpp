#include "collect/RunOutput.h"

#include "platform/DiskSync.h"
#include "platform/Errors.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <cstring>

RunOutput::RunOutput(const QString& path, qint64 start) : m_file(path) {
    const bool existed = m_file.exists();
    if (!m_file.open(existed ? QIODevice::ReadWrite : QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path, m_file.errorString()));
    if (existed && m_file.size() > start && !m_file.resize(start))
        throw Exception(
            QStringLiteral("Cannot cut back \"%1\". %2").arg(path, m_file.errorString()));
    m_file.seek(m_file.size());
}

void RunOutput::writeLine(const QString& line) {
    m_pending += toCp1252(line);
    m_pending += "\r\n";
    if (m_pending.size() >= 65536)
        writePending();
}

void RunOutput::finish() {
    writePending();
    if (!flushToDisk(m_file))
        fail(errno);
    m_file.close();
}

void RunOutput::writePending() {
    errno = 0;
    if (m_file.write(m_pending) != m_pending.size())
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
