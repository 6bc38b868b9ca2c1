#include "kyro/util/TPath.h"

#include "kyro/platform/filesystem.h"
#include "kyro/util/c_str.h"

#include <string>
#include <utility>
#include <vector>

using kyro::platform::PathKind;

namespace {

const char kSeparator[] = "\\";

TPath withBackslashes(TPath path)
{
    path.replaceAll("/", kSeparator);
    return path;
}

}  // namespace

TPath::~TPath() = default;

TPath& TPath::operator=(const TStr& text)
{
    TStr::operator=(text);
    return *this;
}

TPath& TPath::operator/=(const char* part)
{
    join(part, kSeparator);
    return *this;
}

TPath operator/(const TPath& left, const TPath& right)
{
    TPath joined(left);
    joined /= right.utf8();
    return joined;
}

TPath operator/(const TPath& left, const char* right)
{
    TPath joined(left);
    joined /= right;
    return joined;
}

void TPath::useBackslashes()
{
    if (indexOf('/') >= 0)
        replaceAll("/", kSeparator);
}

bool TPath::exists() const
{
    if (isEmpty())
        return false;
    TPath probe = withBackslashes(*this);
    const int length = probe.length();
    if (probe.utf8()[length - 1] == '\\')
        probe.takeLastComponent();
    if (probe.length() == 2 && probe.charAt(1) == ':')
        probe /= kSeparator;
    return kyro::platform::pathKind(probe.utf8()) != PathKind::Missing;
}

bool TPath::isFile()
{
    useBackslashes();
    return !isEmpty() && kyro::platform::pathKind(utf8()) == PathKind::File;
}

bool TPath::createDirectories()
{
    useBackslashes();
    if (exists())
        return true;
    // Walk up to the first ancestor that exists (or to the top), remembering where each
    // missing folder's name ends, then create them downwards. A loop over one copy of the
    // text rather than recursion: a path may have any number of components.
    const std::string full(utf8());
    std::vector<std::size_t> missingEnds;
    std::size_t end = full.size();
    while (end > 0) {
        const std::size_t separator = full.rfind('\\', end - 1);
        const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
        if (end > nameStart)
            missingEnds.push_back(end);
        if (separator == std::string::npos || separator == 0)
            break;
        if (TPath(full.substr(0, separator).c_str()).exists())
            break;
        end = separator;
    }
    for (auto folderEnd = missingEnds.rbegin(); folderEnd != missingEnds.rend(); ++folderEnd) {
        const TPath folder(full.substr(0, *folderEnd).c_str());
        kyro::platform::makeDirectory(folder.utf8());
        if (!folder.exists())
            return false;
    }
    return exists();
}

int TPath::remove()
{
    useBackslashes();
    return kyro::platform::removeFile(utf8());
}

TStr TPath::fileName()
{
    useBackslashes();
    TPath copy(*this);
    return copy.takeLastComponent();
}

TPath TPath::directory() const
{
    TPath copy(*this);
    copy.takeLastComponent();
    return copy;
}

TPath TPath::takeLastComponent()
{
    return TPath(cutLast(kSeparator));
}
