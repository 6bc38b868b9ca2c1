// Readable GoogleTest output for the library's own types.
#ifndef KYRO_TESTS_TESTPRINTERS_H
#define KYRO_TESTS_TESTPRINTERS_H

#include "kyro/util/TStr.h"

#include <ostream>

// A null TStr prints as (null), any other as its quoted UTF-8 text.
void PrintTo(const TStr& text, std::ostream* out);

#endif
