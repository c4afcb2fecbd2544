#pragma once

#include <locale.h>

// A locale that writes and reads numbers with a decimal point whatever the
// process's locale: C libraries that format numbers with printf follow
// LC_NUMERIC, and under a comma locale a file format that wants "0.7" would
// get "0,7". Its other categories are those in force when it is made.
class PointDecimals {
public:
    // Raises when the locale cannot be made.
    PointDecimals();
    ~PointDecimals();
    PointDecimals(const PointDecimals&) = delete;
    PointDecimals& operator=(const PointDecimals&) = delete;

    // While it lives, the calling thread formats numbers with the point.
    class Use {
    public:
        explicit Use(locale_t locale) : m_previous(uselocale(locale)) {}
        ~Use() { uselocale(m_previous); }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        locale_t m_previous;
    };

    Use use() const { return Use(m_locale); }

private:
    locale_t m_locale = locale_t(0);
};
