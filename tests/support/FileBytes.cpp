#include "FileBytes.h"

#include "kyro/platform/filesystem.h"
#include "TestPrinters.h"

#include <fstream>
#include <iterator>
#include <sstream>

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

std::vector<std::string> fileLines(const TStr& path)
{
    const std::string bytes = readFileBytes(path);
    const std::string end = kyro::platform::kTextLineEnd;
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < bytes.size()) {
        const std::string::size_type found = bytes.find(end, start);
        if (found == std::string::npos) {
            lines.push_back("UNTERMINATED:" + bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, found - start));
        start = found + end.size();
    }
    return lines;
}

std::vector<std::string> looseFileLines(const TStr& path)
{
    std::vector<std::string> lines;
    std::stringstream text(readFileBytes(path));
    std::string line;
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}
