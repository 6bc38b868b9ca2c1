#include "FileBytes.h"

#include "kyro/platform/filesystem.h"
#include "TestPrinters.h"

#include <fstream>
#include <iterator>

std::filesystem::path nativePath(const TStr& path)
{
    TStr portable(path);
    portable.replaceAll("\\", "/");
    return std::filesystem::u8path(portable.utf8());
}

std::string readFileBytes(const TStr& path)
{
    std::ifstream in(nativePath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const TStr& path, const std::string& bytes)
{
    std::ofstream out(nativePath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const TStr& path)
{
    std::error_code ignored;
    return std::filesystem::exists(nativePath(path), ignored);
}

std::string textLines(const std::string& lines)
{
    std::string stored;
    for (char c : lines) {
        if (c == '\n')
            stored += kyro::platform::kTextLineEnd;
        else
            stored += c;
    }
    return stored;
}

void PrintTo(const TStr& text, std::ostream* out)
{
    if (text.isNull())
        *out << "(null)";
    else
        *out << '"' << text.utf8() << '"';
}
