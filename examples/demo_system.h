// The two things the demo host asks of its system itself: where its program is, and an
// environment variable set for itself and the companion it starts.
#ifndef KYRO_EXAMPLES_DEMO_SYSTEM_H
#define KYRO_EXAMPLES_DEMO_SYSTEM_H

#include <string>

// The folder of the running program, with the system's separators and no trailing one.
std::string programFolder();

// Sets `name` to `value` (UTF-8) in this process's environment, which children inherit.
void setVariable(const char* name, const std::string& value);

// The system's path separator.
char pathSeparator();

#endif
