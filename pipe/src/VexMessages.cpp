#include "kyro/pipe/VexMessages.h"

#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace kyro::pipe {

const char* const kMessageFileVariable = "KYRO_PIPE_TRACE_FILE";

namespace {

// Held while a line is delivered, so that removing an observer waits for a call in
// progress. Recursive, so that an observer that traces, or swaps itself out, cannot
// deadlock its own thread.
std::recursive_mutex g_lock;
MessageObserver g_observer = nullptr;
std::atomic<bool> g_observerInstalled{false};
void* g_context = nullptr;
bool g_delivering = false;

class DeliveringFlag {
public:
    DeliveringFlag() { g_delivering = true; }
    ~DeliveringFlag() { g_delivering = false; }
    DeliveringFlag(const DeliveringFlag&) = delete;
    DeliveringFlag& operator=(const DeliveringFlag&) = delete;
};

void appendToFile(const std::string& path, const TStr& line)
{
    std::FILE* file = kyro::platform::openFile(path.c_str(), "a");
    if (file == nullptr)
        return;
    std::fprintf(file, "[%lu] %s\n",
                 static_cast<unsigned long>(kyro::platform::currentProcessId()), line.utf8());
    std::fclose(file);
}

// The line is composed only when someone will see it.
template <typename Compose>
void deliver(MessageKind kind, Compose compose) noexcept
{
    try {
        // Nobody watching is the common case: settle it without the lock.
        if (!g_observerInstalled.load(std::memory_order_acquire) && std::getenv(kMessageFileVariable) == nullptr)
            return;
        std::string file;
        const bool toFile =
            kyro::platform::environmentVariable(kMessageFileVariable, &file) && !file.empty();
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        if (g_delivering || (g_observer == nullptr && !toFile))
            return;
        DeliveringFlag delivering;
        const TStr line = compose();
        if (g_observer != nullptr)
            g_observer(kind, line, g_context);
        if (toFile)
            appendToFile(file, line);
    } catch (...) {
        // A sink never fails its caller.
    }
}

}  // namespace

void trace(const TStr& text)
{
    deliver(MessageKind::Trace, [&text] { return text; });
}

void trace(const char* format, const TStr& argument)
{
    deliver(MessageKind::Trace, [format, &argument] { return TStr(format).arg(argument); });
}

void reportError(const TStr& text)
{
    deliver(MessageKind::Error, [&text] { return TStr("Error ") + " " + text; });
}

void reportError(std::int32_t code, const TStr& text)
{
    deliver(MessageKind::Error, [code, &text] {
        return TStr("Error ") + TStr(static_cast<int>(code)) + " " + text;
    });
}

void setMessageObserver(MessageObserver observer, void* context)
{
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_observer = observer;
    g_context = context;
    g_observerInstalled.store(observer != nullptr, std::memory_order_release);
}

}  // namespace kyro::pipe
