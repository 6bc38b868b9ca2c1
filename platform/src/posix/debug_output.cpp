#include "kyro/platform/debug_output.h"

#include "posix_support.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kyro::platform {

const char* const kDebugOutputFileVariable = "KYRO_DEBUG_OUTPUT";

namespace {

// One write() on an O_APPEND descriptor: the system moves to the end and writes in one
// step, so lines of several processes never overwrite or split each other.
void appendLine(const std::string& path, const std::string& line)
{
    // O_NONBLOCK: opening a FIFO nobody reads must not wait; such a file is skipped below.
    const int file =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
               0666);
    if (file < 0)
        return;
    // Only an ordinary file: a terminal or a FIFO could be the host's own output, and a
    // FIFO whose reader went away would raise SIGPIPE.
    struct stat status;
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode)) {
        const char* data = line.data();
        std::size_t left = line.size();
        while (left > 0) {
            const ssize_t written = ::write(file, data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                break;
            data += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    ::close(file);
}

}  // namespace

void writeDebugOutput(const char* utf8Text)
{
    const int savedErrno = errno;
    try {
        const char* path = std::getenv(kDebugOutputFileVariable);
        if (path != nullptr && *path != '\0')
            appendLine(posix::nativePath(path),
                       std::string(utf8Text != nullptr ? utf8Text : "") + "\n");
    } catch (...) {
        // Out of memory: the message is lost, nothing else.
    }
    errno = savedErrno;
}

}  // namespace kyro::platform
