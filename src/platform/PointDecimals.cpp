#include "platform/PointDecimals.h"

#include "platform/Errors.h"

#include <QString>
#include <cerrno>
#include <cstring>

PointDecimals::PointDecimals() {
    // The thread's own locale, or the global one when it has none.
    const locale_t base = duplocale(uselocale(locale_t(0)));
    if (base)
        m_locale = newlocale(LC_NUMERIC_MASK, "C", base);
    if (!m_locale) {
        const int error = errno;
        if (base)
            freelocale(base); // newlocale() leaves it to the caller when it fails
        throw Exception(QStringLiteral("No se pudo preparar la escritura de números: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
}

PointDecimals::~PointDecimals() {
    freelocale(m_locale);
}
