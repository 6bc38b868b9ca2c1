// An environment variable set (or, with null, removed) for the life of the object, then put
// back as it was.
#ifndef KYRO_TESTS_SCOPEDVARIABLE_H
#define KYRO_TESTS_SCOPEDVARIABLE_H

#include "kyro/platform/process_launch.h"

#include <string>

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : m_name(name), m_wasSet(kyro::platform::environmentVariable(name, &m_saved))
    {
        kyro::platform::setEnvironmentVariable(name, value);
    }
    // Only puts back, at the end, what is there now.
    explicit ScopedVariable(const char* name)
        : m_name(name), m_wasSet(kyro::platform::environmentVariable(name, &m_saved))
    {
    }
    ~ScopedVariable()
    {
        kyro::platform::setEnvironmentVariable(m_name.c_str(), m_wasSet ? m_saved.c_str() : nullptr);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string m_name;
    std::string m_saved;
    bool m_wasSet;
};

#endif
