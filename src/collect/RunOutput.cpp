#include "collect/RunOutput.h"

#include "platform/Errors.h"

#include <unistd.h>

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
    m_pending += m_encoder.encode(line);
    m_pending += "\r\n";
    if (m_pending.size() >= 65536)
        writePending();
}

void RunOutput::finish() {
    writePending();
    if (!m_file.flush() || ::fsync(m_file.handle()) != 0)
        fail();
    m_file.close();
}

void RunOutput::writePending() {
    if (m_file.write(m_pending) != m_pending.size())
        fail();
    m_pending.clear();
}

void RunOutput::fail() {
    throw Exception(QStringLiteral("Cannot write file \"%1\". %2")
                        .arg(m_file.fileName(), m_file.errorString()));
}
