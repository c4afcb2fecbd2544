#pragma once

// What every fuzz target shares: the Qt application object, a scratch
// directory for the readers that take a path, the failure of a property, and
// a reader that splits the fuzzer's bytes into the values a target needs.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

// FuzzSupport.cpp starts one application object for the whole run (Qt's
// codecs, timers and notifiers need it) before the first input.

// A directory of the target's own, removed when the run ends.
inline QString scratch(const QString& name) {
    static QTemporaryDir dir;
    return dir.filePath(name);
}

// A property does not hold: the fuzzer treats the abort as a crash and keeps
// the input.
[[noreturn]] inline void fail(const char* property, const QString& detail = QString()) {
    std::fprintf(stderr, "PROPERTY FAILED: %s\n%s\n", property, detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

inline void check(bool holds, const char* property, const QString& detail = QString()) {
    if (!holds)
        fail(property, detail);
}

// Takes values from the front of the fuzzer's bytes; what is used up reads
// as zeros and empty arrays.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    size_t left() const { return m_size - m_pos; }

    uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    // Little-endian.
    quint16 u16() {
        const quint16 low = byte();
        return quint16(low | (byte() << 8));
    }
    quint32 u32() {
        const quint32 low = u16();
        return low | (quint32(u16()) << 16);
    }

    // The bytes up to the next `end` byte (which is consumed), or all that is left.
    QByteArray until(char end) {
        const uint8_t* from = m_data + m_pos;
        const void* at = std::memchr(from, end, left());
        const size_t n = at ? size_t(static_cast<const uint8_t*>(at) - from) : left();
        m_pos += n + (at ? 1 : 0);
        return QByteArray(reinterpret_cast<const char*>(from), qsizetype(n));
    }

    QByteArray rest() {
        const QByteArray all(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(left()));
        m_pos = m_size;
        return all;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// The file a reader is given.
inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              file.write(bytes) == bytes.size(),
          "the harness writes its file", path);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    check(file.open(QIODevice::ReadOnly), "the harness reads back its file", path);
    return file.readAll();
}

inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

} // namespace fuzz
