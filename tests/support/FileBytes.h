// Reading and writing whole files in tests, byte for byte, by library path text.
#ifndef KYRO_TESTS_FILEBYTES_H
#define KYRO_TESTS_FILEBYTES_H

#include "TestPrinters.h"
#include "kyro/util/TStr.h"

#include <filesystem>
#include <string>
#include <vector>

// The library path ("\" separators) as a path the standard library opens on this system.
std::filesystem::path nativePath(const TStr& path);

// The file's bytes; empty when it cannot be read.
std::string readFileBytes(const TStr& path);
void writeFileBytes(const TStr& path, const std::string& bytes);
bool fileExists(const TStr& path);

// "\n" written in text mode, as the platform stores it.
std::string textLines(const std::string& lines);

// The lines of text the library wrote to a file, split at the platform's line end; a last
// line without one comes back prefixed with "UNTERMINATED:".
std::vector<std::string> fileLines(const TStr& path);
// The lines of a file that ends them with "\n" or "\r\n", either way, without the ends.
std::vector<std::string> looseFileLines(const TStr& path);

#endif
