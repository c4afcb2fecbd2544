// The numbers the FTP client takes out of reply lines: the data port of a
// PASV reply, the size announced by a 150 reply and the reply code. Each is
// checked against a plain reading of the line: the client may refuse a
// reply, but a port, size or code it accepts is the one the line gives.

#include "FuzzSupport.h"
#include "net/FtpClient.h"
#include "platform/TextCodec.h"

#include <optional>

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A run of decimal digits at `at`, moved past; nullopt when there is none.
// A run longer than three digits counts as 1000: no byte.
std::optional<qint64> numberAt(const QString& text, qsizetype& at) {
    const qsizetype from = at;
    while (at < text.size() && isDigit(text.at(at)))
        ++at;
    if (at == from)
        return std::nullopt;
    return at - from > 3 ? 1000 : text.mid(from, at - from).toLongLong();
}

void skipBlanks(const QString& text, qsizetype& at) {
    while (at < text.size() && text.at(at) == QLatin1Char(' '))
        ++at;
}

// Six numbers h1,h2,h3,h4,p1,p2 (blanks allowed around the commas) starting at `at`.
std::optional<QList<qint64>> groupAt(const QString& text, qsizetype at) {
    QList<qint64> numbers;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            skipBlanks(text, at);
            if (at >= text.size() || text.at(at) != QLatin1Char(','))
                return std::nullopt;
            ++at;
            skipBlanks(text, at);
        }
        const std::optional<qint64> n = numberAt(text, at);
        if (!n)
            return std::nullopt;
        numbers << *n;
    }
    return numbers;
}

struct PasvGroup {
    int port = -1; // -1: the group gives no usable port
};

// The first group of six numbers after the reply code, as RFC 1123 advises
// a client to find it (the text around it is not standardised); a group with
// a number past 255 gives no port.
std::optional<PasvGroup> referencePasv(const QString& reply) {
    for (qsizetype at = 3; at < reply.size(); ++at) {
        if (!isDigit(reply.at(at)) || isDigit(reply.at(at - 1)))
            continue;
        const std::optional<QList<qint64>> numbers = groupAt(reply, at);
        if (!numbers)
            continue;
        PasvGroup group;
        bool bytes = true;
        for (qint64 n : *numbers)
            bytes = bytes && n <= 255;
        const qint64 port = numbers->at(4) * 256 + numbers->at(5);
        if (bytes && port > 0)
            group.port = int(port);
        return group;
    }
    return std::nullopt;
}

void checkPassivePort(const QString& reply) {
    const int port = TFtpClient::PassivePort(reply);
    const std::optional<PasvGroup> reference = referencePasv(reply);
    const QString detail = QStringLiteral("reply [%1] client %2 reference %3")
                               .arg(reply)
                               .arg(port)
                               .arg(reference ? reference->port : -2);
    fuzz::check(port == -1 || (port > 0 && port <= 65535), "PASV port within 1..65535", detail);
    fuzz::check(port == (reference ? reference->port : -1),
                "the PASV port is that of the reply's first group of six numbers", detail);
}

// The size is the run of digits nearest before the first "BYTE".
void checkSize(const QString& line) {
    const qint64 size = TFtpClient::SizeFromReply(line);
    fuzz::check(size >= 0, "a size is never negative", line);
    if (size == 0)
        return;
    const qsizetype word = line.indexOf(QLatin1String("BYTE"), 0, Qt::CaseInsensitive);
    fuzz::check(word > 0, "a size comes from a line with BYTE", line);
    const QString before = line.left(word);
    qsizetype end = before.size();
    while (end > 0 && !isDigit(before.at(end - 1)))
        --end;
    qsizetype from = end;
    while (from > 0 && isDigit(before.at(from - 1)))
        --from;
    const QString digits = before.mid(from, end - from);
    fuzz::check(digits.toLongLong() == size, "the size is the digits before BYTE", line);
}

void checkReplyNumber(const QString& line) {
    qsizetype digits = 0;
    while (digits < line.size() && digits < 10 && isDigit(line.at(digits)))
        ++digits;
    const qint64 expected = digits ? line.left(digits).toLongLong() : 0;
    try {
        const qint16 number = TTcpSock::ReplyNumberOf(line);
        fuzz::check(number == expected, "the reply number is the leading digits", line);
    } catch (const ESockError&) {
        fuzz::check(expected > 32767, "only a number past 32767 is refused", line);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The client reads reply lines as Windows-1252, without the line end.
    const QString line = fromCp1252(fuzz::bytesOf(data, size));
    checkPassivePort(line);
    checkSize(line);
    checkReplyNumber(line);
    return 0;
}
