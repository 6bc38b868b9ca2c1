// A German C locale (decimal point ",") for the life of the object, as a host that calls
// setlocale() sets it: the library's numbers must not follow it.
#ifndef KYRO_TESTS_SCOPEDCLOCALE_H
#define KYRO_TESTS_SCOPEDCLOCALE_H

#include <clocale>
#include <cstring>
#include <string>

class ScopedGermanCLocale {
public:
    ScopedGermanCLocale()
    {
        const char* current = std::setlocale(LC_ALL, nullptr);
        m_saved = current != nullptr ? current : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252",
                                 "German"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                const std::lconv* conventions = std::localeconv();
                m_set = conventions != nullptr && std::strcmp(conventions->decimal_point, ",") == 0;
                if (m_set)
                    break;
            }
        }
    }
    ~ScopedGermanCLocale() { std::setlocale(LC_ALL, m_saved.c_str()); }
    ScopedGermanCLocale(const ScopedGermanCLocale&) = delete;
    ScopedGermanCLocale& operator=(const ScopedGermanCLocale&) = delete;

    // Whether a locale with "," as its decimal point is in force.
    bool isSet() const { return m_set; }

private:
    std::string m_saved;
    bool m_set = false;
};

#endif
