// The trace sink and the error report: the exact lines, the observer, the opt-in file.
#include "kyro/pipe/VexMessages.h"

#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using kyro::pipe::MessageKind;

namespace {

struct Seen {
    std::mutex mutex;
    std::vector<std::pair<MessageKind, std::string>> lines;
};

void collect(MessageKind kind, const TStr& line, void* context)
{
    auto* seen = static_cast<Seen*>(context);
    std::lock_guard<std::mutex> guard(seen->mutex);
    seen->lines.emplace_back(kind, line.utf8());
}

// Watches the sinks for as long as it lives.
class Watch {
public:
    Watch() { kyro::pipe::setMessageObserver(&collect, &m_seen); }
    ~Watch() { kyro::pipe::setMessageObserver(nullptr, nullptr); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    std::vector<std::pair<MessageKind, std::string>> lines()
    {
        std::lock_guard<std::mutex> guard(m_seen.mutex);
        return m_seen.lines;
    }

private:
    Seen m_seen;
};

}  // namespace

TEST(VexMessages, ErrorReportsAndTraceLinesAreComposedExactly)
{
    Watch watch;
    kyro::pipe::trace("Packet Marshalled:abc");
    kyro::pipe::trace(TStr("PROCESS: %1").arg("Vex.exe"));
    kyro::pipe::reportError("Could not execute server process");
    kyro::pipe::reportError(static_cast<std::int32_t>(0xF0000007u), "Pipe broken");
    kyro::pipe::reportError(5, "five");
    kyro::pipe::reportError(0, "");
    kyro::pipe::trace(TStr());

    const std::vector<std::pair<MessageKind, std::string>> expected = {
        {MessageKind::Trace, "Packet Marshalled:abc"},
        {MessageKind::Trace, "PROCESS: Vex.exe"},
        {MessageKind::Error, "Error  Could not execute server process"},
        {MessageKind::Error, "Error -268435449 Pipe broken"},
        {MessageKind::Error, "Error 5 five"},
        {MessageKind::Error, "Error 0 "},
        {MessageKind::Trace, ""},
    };
    EXPECT_EQ(watch.lines(), expected);
}

TEST(VexMessages, ObserverComesAndGoesSafely)
{
    Seen seen;
    kyro::pipe::trace("nobody sees this");
    kyro::pipe::setMessageObserver(&collect, &seen);
    kyro::pipe::trace("seen");
    kyro::pipe::setMessageObserver(nullptr, nullptr);
    kyro::pipe::trace("not seen");
    ASSERT_EQ(seen.lines.size(), 1u);
    EXPECT_EQ(seen.lines[0].second, "seen");

    // An observer that traces itself gets its own line only once: no recursion.
    struct Echo {
        static void observe(MessageKind, const TStr& line, void* context)
        {
            ++*static_cast<int*>(context);
            kyro::pipe::trace(TStr("echo of ") + line);
        }
    };
    int calls = 0;
    kyro::pipe::setMessageObserver(&Echo::observe, &calls);
    kyro::pipe::reportError(1, "x");
    kyro::pipe::setMessageObserver(nullptr, nullptr);
    EXPECT_EQ(calls, 1);

    // Installing and removing while other threads trace: every line is seen whole or not at
    // all, and nothing is delivered to an observer after its removal returned.
    Seen busy;
    std::atomic<bool> stop{false};
    std::vector<std::thread> tracers;
    for (int t = 0; t < 2; ++t) {
        tracers.emplace_back([&stop] {
            while (!stop.load())
                kyro::pipe::trace("line");
        });
    }
    for (int i = 0; i < 200; ++i) {
        kyro::pipe::setMessageObserver(&collect, &busy);
        kyro::pipe::setMessageObserver(nullptr, nullptr);
    }
    const std::size_t afterRemoval = busy.lines.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& tracer : tracers)
        tracer.join();
    EXPECT_EQ(busy.lines.size(), afterRemoval);
    for (const auto& line : busy.lines)
        EXPECT_EQ(line.second, "line");
}

TEST(VexMessages, EnvironmentVariableSendsLinesToAFile)
{
    TempFolder folder;
    const TPath file = folder / "pipe-trace.log";
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(kyro::pipe::kMessageFileVariable,
                                                       file.utf8()));
    kyro::pipe::trace("first");
    kyro::pipe::reportError(-2, "second");
    kyro::pipe::reportError("third");
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(kyro::pipe::kMessageFileVariable, nullptr));
    kyro::pipe::trace("after the variable went");

    const std::string pid = "[" + std::to_string(kyro::platform::currentProcessId()) + "] ";
    EXPECT_EQ(readFileBytes(file),
              textLines(pid + "first\n" + pid + "Error -2 second\n" + pid + "Error  third\n"));

    // A file that cannot be opened costs the caller nothing.
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(
        kyro::pipe::kMessageFileVariable, (folder / "missing\\folder\\x.log").utf8()));
    kyro::pipe::trace("lost");
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(kyro::pipe::kMessageFileVariable, nullptr));
    EXPECT_FALSE(fileExists(folder / "missing\\folder\\x.log"));
}
