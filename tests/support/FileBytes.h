// Reading and writing whole files in tests, byte for byte, by library path text.
#ifndef KYRO_TESTS_FILEBYTES_H
#define KYRO_TESTS_FILEBYTES_H

#include "TestPrinters.h"
#include "kyro/util/TStr.h"

#include <filesystem>
#include <string>

// The library path ("\" separators) as a path the standard library opens on this system.
std::filesystem::path nativePath(const TStr& path);

// The file's bytes; empty when it cannot be read.
std::string readFileBytes(const TStr& path);
void writeFileBytes(const TStr& path, const std::string& bytes);
bool fileExists(const TStr& path);

// "\n" written in text mode, as the platform stores it.
std::string textLines(const std::string& lines);

#endif
