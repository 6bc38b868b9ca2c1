#include "posix_support.h"

namespace kyro::platform::posix {

std::string nativePath(const char* path)
{
    std::string native(path != nullptr ? path : "");
    for (char& c : native) {
        if (c == '\\')
            c = '/';
    }
    return native;
}

}  // namespace kyro::platform::posix
