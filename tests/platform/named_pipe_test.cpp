// Named pipes: the read and write outcomes the pipe devices act on, clients one after
// another and at once, release of blocked calls by close, and (POSIX) the socket files.
#include "kyro/platform/named_pipe.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"
#include "kyro/platform/threads.h"

#include "Accounts.h"
#include "ChildRole.h"
#include "ScopedVariable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#if !KYRO_TEST_WINDOWS
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kyro::platform;

namespace {

// Pipe names of this test run: "\\.\pipe\Norveldt\kyro\kyropipetest<pid>\<leaf>".
std::string pipeName(const std::string& leaf)
{
    return "\\\\.\\pipe\\Norveldt\\kyro\\kyropipetest" + std::to_string(currentProcessId()) +
           "\\" + leaf;
}

bool writeText(PipeHandle pipe, const std::string& text)
{
    const PipeResult written =
        pipeWrite(pipe, text.data(), static_cast<std::uint32_t>(text.size()));
    return written.status == PipeStatus::Ok && written.bytes == text.size();
}

// Reads until `text` holds a "\n" or the read stops being Ok; the last status is returned.
PipeStatus readLine(PipeHandle pipe, std::string* text)
{
    text->clear();
    char buffer[4096];
    for (;;) {
        const PipeResult got = pipeRead(pipe, buffer, sizeof(buffer));
        if (got.status != PipeStatus::Ok)
            return got.status;
        text->append(buffer, got.bytes);
        if (text->find('\n') != std::string::npos)
            return PipeStatus::Ok;
    }
}

// Runs `function` on a thread and makes sure it ends (within a generous bound, so that a
// hang fails the test instead of the whole program).
class Worker {
public:
    template <class F>
    explicit Worker(F function) : m_function(function)
    {
        m_thread = startThread(&Worker::run, this);
    }
    ~Worker() { EXPECT_TRUE(finish()); }

    bool started() const { return m_thread != kNoThread; }
    bool finish()
    {
        if (m_thread == kNoThread)
            return true;
        const bool ended = waitForThread(m_thread, 30000);
        releaseThread(m_thread);
        m_thread = kNoThread;
        return ended;
    }

private:
    static void run(void* self) { static_cast<Worker*>(self)->m_function(); }

    std::function<void()> m_function;
    ThreadHandle m_thread = kNoThread;
};

// The names in the runtime folder that belong to this test run (POSIX; none on Windows).
std::vector<std::string> leftoverFiles()
{
    std::vector<std::string> found;
#if !KYRO_TEST_WINDOWS
    std::string folder = pipeRuntimeFolder();
    std::replace(folder.begin(), folder.end(), '\\', '/');
    const std::string tag = "kyropipetest" + std::to_string(currentProcessId());
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            if (std::string(entry->d_name).find(tag) != std::string::npos)
                found.push_back(entry->d_name);
        }
        ::closedir(listing);
    }
#endif
    return found;
}

}  // namespace

KYRO_CHILD_ROLE(writePipeLine)
{
    std::uint32_t error = 0;
    if (!waitForPipe(argument.c_str(), 1000))
        return 2;
    const PipeHandle pipe = openPipeForWriting(argument.c_str(), &error);
    if (pipe == kNoPipe)
        return 3;
    const bool written = writeText(pipe, "child " + std::to_string(currentProcessId()) + "\n");
    closePipe(pipe);
    return written ? 0 : 4;
}

KYRO_CHILD_ROLE(listenOnce)
{
    const PipeHandle pipe = createInboundPipe(argument.c_str());
    closePipe(pipe);
    return pipe != kNoPipe ? 0 : 2;
}

// Ends with a listening pipe open and no clean-up at all.
KYRO_CHILD_ROLE(abandonInboundPipe)
{
    if (createInboundPipe(argument.c_str()) == kNoPipe)
        return 2;
    std::_Exit(0);
}

TEST(PlatformNamedPipe, OneConnectionFromListeningToBroken)
{
    const std::string name = pipeName("inbound0");
    std::uint32_t error = 1;
    const PipeHandle server = createInboundPipe(name.c_str(), &error);
    ASSERT_NE(server, kNoPipe) << error;
    EXPECT_NE(server, 0);
    EXPECT_EQ(error, 0u);

    char buffer[64];
    EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::Listening);
    EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::Listening);
    EXPECT_FALSE(pipeDisconnect(server));  // nobody to disconnect: it keeps listening

    ASSERT_TRUE(waitForPipe(name.c_str(), 1000));
    // Probing left no client behind.
    EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::Listening);

    const PipeHandle client = openPipeForWriting(name.c_str(), &error);
    ASSERT_NE(client, kNoPipe) << error;
    EXPECT_EQ(waitForClient(server), PipeConnectResult::Connected);  // came before the call

    ASSERT_TRUE(writeText(client, "65536;system.cndCnct;10;0;0;2;CPID=i5120\n"));
    EXPECT_TRUE(pipeFlush(client));  // does not wait for the server to read
    std::string line;
    EXPECT_EQ(readLine(server, &line), PipeStatus::Ok);
    EXPECT_EQ(line, "65536;system.cndCnct;10;0;0;2;CPID=i5120\n");
    EXPECT_TRUE(pipeFlush(server));

    // One way only.
    EXPECT_EQ(pipeWrite(server, "x", 1).status, PipeStatus::OtherError);
    EXPECT_EQ(pipeRead(client, buffer, sizeof(buffer)).status, PipeStatus::OtherError);

    // What the client wrote before it went is still read, then the pipe is broken.
    ASSERT_TRUE(writeText(client, "last words\n"));
    closePipe(client);
    EXPECT_EQ(readLine(server, &line), PipeStatus::Ok);
    EXPECT_EQ(line, "last words\n");
    EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::Broken);
    EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::Broken);

    closePipe(server);
    EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::InvalidHandle);
    EXPECT_EQ(pipeWrite(client, "x", 1).status, PipeStatus::InvalidHandle);
    EXPECT_FALSE(pipeFlush(server));
    EXPECT_EQ(waitForClient(server), PipeConnectResult::Closed);
    closePipe(server);  // twice, and the values that name no pipe: nothing happens
    closePipe(kNoPipe);
    closePipe(0);
    EXPECT_EQ(pipeRead(0, buffer, sizeof(buffer)).status, PipeStatus::InvalidHandle);
    EXPECT_EQ(pipeRead(12345678, buffer, sizeof(buffer)).status, PipeStatus::InvalidHandle);

    EXPECT_FALSE(waitForPipe(name.c_str(), 1000));
    EXPECT_TRUE(leftoverFiles().empty());
}

TEST(PlatformNamedPipe, ServerGoneAndDisconnected)
{
    const std::string name = pipeName("inbound1");
    PipeHandle server = createInboundPipe(name.c_str());
    ASSERT_NE(server, kNoPipe);
    PipeHandle client = openPipeForWriting(name.c_str());
    ASSERT_NE(client, kNoPipe);
    std::string line;
    ASSERT_TRUE(writeText(client, "one\n"));
    ASSERT_EQ(readLine(server, &line), PipeStatus::Ok);

    // Disconnected: reads say so until the instance listens again; the client is cut off.
    EXPECT_TRUE(pipeDisconnect(server));
    char buffer[16];
    EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::Disconnected);
    EXPECT_EQ(pipeWrite(client, "two\n", 4).status, PipeStatus::Broken);
    closePipe(client);

    // The same instance takes the next client.
    std::atomic<int> connected{-1};
    {
        Worker listener([&] { connected = static_cast<int>(waitForClient(server)); });
        ASSERT_TRUE(listener.started());
        ASSERT_TRUE(waitForPipe(name.c_str(), 5000));
        client = openPipeForWriting(name.c_str());
        ASSERT_NE(client, kNoPipe);
    }
    EXPECT_EQ(connected.load(), static_cast<int>(PipeConnectResult::Connected));
    ASSERT_TRUE(writeText(client, "three\n"));
    EXPECT_EQ(readLine(server, &line), PipeStatus::Ok);
    EXPECT_EQ(line, "three\n");

    // The server goes: the client's writes fail as a broken pipe.
    closePipe(server);
    EXPECT_EQ(pipeWrite(client, "four\n", 5).status, PipeStatus::Broken);
    closePipe(client);

    // No such pipe: both client calls fail at once with the system's reason.
    std::uint32_t error = 0;
    EXPECT_FALSE(waitForPipe(name.c_str(), 1000));
    EXPECT_EQ(openPipeForWriting(name.c_str(), &error), kNoPipe);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(createInboundPipe("", &error), kNoPipe);
    EXPECT_NE(error, 0u);
    EXPECT_TRUE(leftoverFiles().empty());
}

TEST(PlatformNamedPipe, CloseReleasesBlockedCalls)
{
    const std::string name = pipeName("inbound2");
    const PipeHandle server = createInboundPipe(name.c_str());
    ASSERT_NE(server, kNoPipe);

    // A wait for a client, ended by closing the instance.
    std::atomic<int> waited{-1};
    Worker waiter([&] { waited = static_cast<int>(waitForClient(server)); });
    closePipe(server);
    EXPECT_TRUE(waiter.finish());
    EXPECT_EQ(waited.load(), static_cast<int>(PipeConnectResult::Closed));

    // A read blocked on a connected instance, ended by closing it: the reader thread of a
    // pipe device stops this way.
    const PipeHandle second = createInboundPipe(name.c_str());
    ASSERT_NE(second, kNoPipe);
    const PipeHandle client = openPipeForWriting(name.c_str());
    ASSERT_NE(client, kNoPipe);
    ASSERT_EQ(waitForClient(second), PipeConnectResult::Connected);
    std::atomic<int> readStatus{-1};
    Worker reader([&] {
        char buffer[16];
        readStatus = static_cast<int>(pipeRead(second, buffer, sizeof(buffer)).status);
    });
    closePipe(second);
    EXPECT_TRUE(reader.finish());
    EXPECT_EQ(readStatus.load(), static_cast<int>(PipeStatus::InvalidHandle));
    closePipe(client);

    // A write blocked on a full pipe, ended by closing the client's handle.
    const PipeHandle full = createInboundPipe(name.c_str());
    ASSERT_NE(full, kNoPipe);
    const PipeHandle writer = openPipeForWriting(name.c_str());
    ASSERT_NE(writer, kNoPipe);
    ASSERT_EQ(waitForClient(full), PipeConnectResult::Connected);
    const std::string bulk(4 << 20, 'b');  // far more than any pipe buffer holds
    PipeResult bulkWritten;
    Worker bulkWriter([&] {
        bulkWritten = pipeWrite(writer, bulk.data(), static_cast<std::uint32_t>(bulk.size()));
    });
    closePipe(writer);  // before the write starts or while it waits: the same outcome
    EXPECT_TRUE(bulkWriter.finish());
    EXPECT_EQ(bulkWritten.status, PipeStatus::InvalidHandle);
    EXPECT_LT(bulkWritten.bytes, bulk.size());
    closePipe(full);

    // A blocked read ended by a disconnect.
    const PipeHandle third = createInboundPipe(name.c_str());
    ASSERT_NE(third, kNoPipe);
    const PipeHandle client3 = openPipeForWriting(name.c_str());
    ASSERT_NE(client3, kNoPipe);
    ASSERT_EQ(waitForClient(third), PipeConnectResult::Connected);
    {
        Worker disconnectedReader([&] {
            char buffer[16];
            readStatus = static_cast<int>(pipeRead(third, buffer, sizeof(buffer)).status);
        });
        // The disconnect may come before the read starts: either way the read reports it.
        EXPECT_TRUE(pipeDisconnect(third));
    }
    EXPECT_EQ(readStatus.load(), static_cast<int>(PipeStatus::Disconnected));
    closePipe(client3);
    closePipe(third);
    EXPECT_TRUE(leftoverFiles().empty());
}

TEST(PlatformNamedPipe, ClientsAtOnceAndOneAfterAnother)
{
    const std::string name = pipeName("inbound0");
    constexpr int kClients = 3;
    const int handlesBefore = openHandleCount();

    // Three instances of one name, each waiting for a client on its own thread, as the
    // companion serves its clients.
    PipeHandle instances[kClients];
    std::string received[kClients];
    for (PipeHandle& instance : instances) {
        instance = createInboundPipe(name.c_str());
        ASSERT_NE(instance, kNoPipe);
    }
    {
        std::vector<std::unique_ptr<Worker>> servers;
        for (int i = 0; i < kClients; ++i) {
            servers.emplace_back(new Worker([&, i] {
                if (waitForClient(instances[i]) == PipeConnectResult::Connected)
                    readLine(instances[i], &received[i]);
            }));
        }
        PipeHandle clients[kClients];
        for (int i = 0; i < kClients; ++i) {
            ASSERT_TRUE(waitForPipe(name.c_str(), 5000));
            clients[i] = openPipeForWriting(name.c_str());
            ASSERT_NE(clients[i], kNoPipe);
        }
        for (int i = 0; i < kClients; ++i)
            EXPECT_TRUE(writeText(clients[i], "client " + std::to_string(i) + "\n"));
        for (auto& server : servers)
            EXPECT_TRUE(server->finish());
        for (const PipeHandle client : clients)
            closePipe(client);
    }
    std::set<std::string> lines(received, received + kClients);
    EXPECT_EQ(lines, (std::set<std::string>{"client 0\n", "client 1\n", "client 2\n"}));
    for (const PipeHandle instance : instances)
        closePipe(instance);

    // One instance, clients one after another. A disconnected instance takes the next
    // client once it listens again.
    const PipeHandle server = createInboundPipe(name.c_str());
    ASSERT_NE(server, kNoPipe);
    for (int round = 0; round < 3; ++round) {
        std::atomic<int> connected{-1};
        PipeHandle client = kNoPipe;
        {
            Worker listener([&] { connected = static_cast<int>(waitForClient(server)); });
            ASSERT_TRUE(waitForPipe(name.c_str(), 5000));
            client = openPipeForWriting(name.c_str());
            ASSERT_NE(client, kNoPipe);
        }
        ASSERT_EQ(connected.load(), static_cast<int>(PipeConnectResult::Connected));
        ASSERT_TRUE(writeText(client, "round " + std::to_string(round) + "\n"));
        closePipe(client);
        std::string line;
        EXPECT_EQ(readLine(server, &line), PipeStatus::Ok);
        EXPECT_EQ(line, "round " + std::to_string(round) + "\n");
        char buffer[16];
        EXPECT_EQ(pipeRead(server, buffer, sizeof(buffer)).status, PipeStatus::Broken);
        EXPECT_TRUE(pipeDisconnect(server));
    }
    closePipe(server);
    EXPECT_TRUE(leftoverFiles().empty());
    EXPECT_LE(openHandleCount(), handlesBefore);  // pipes and threads leave nothing open
}

TEST(PlatformNamedPipe, OtherProcessesAndNames)
{
    // A client in another process.
    const std::string name = pipeName("inbound0");
    const PipeHandle server = createInboundPipe(name.c_str());
    ASSERT_NE(server, kNoPipe);
    std::string output;
    ASSERT_TRUE(runRole(("writePipeLine:" + name).c_str(), &output));
    std::string line;
    EXPECT_EQ(readLine(server, &line), PipeStatus::Ok);
    EXPECT_EQ(line.rfind("child ", 0), 0u) << line;
    EXPECT_NE(line, "child " + std::to_string(currentProcessId()) + "\n");
    closePipe(server);

    // A server that ended without closing its pipe does not keep the name.
    ASSERT_TRUE(runRole(("abandonInboundPipe:" + name).c_str(), &output));
    const PipeHandle again = createInboundPipe(name.c_str());
    EXPECT_NE(again, kNoPipe);
    closePipe(again);

    // What such a server leaves behind goes when another process first listens.
    ASSERT_TRUE(runRole(("abandonInboundPipe:" + pipeName("abandoned")).c_str(), &output));
    EXPECT_EQ(leftoverFiles().size(), KYRO_TEST_WINDOWS ? 0u : 1u);
    ASSERT_TRUE(runRole(("listenOnce:" + pipeName("other")).c_str(), &output));
    EXPECT_TRUE(leftoverFiles().empty());

    // Names ignore case, and long names that differ only at their end stay apart.
    const PipeHandle lower = createInboundPipe(pipeName("mixedcase").c_str());
    ASSERT_NE(lower, kNoPipe);
    const PipeHandle upper = openPipeForWriting(pipeName("MixedCase").c_str());
    EXPECT_NE(upper, kNoPipe);
    closePipe(upper);
    closePipe(lower);

    const std::string longLeaf(180, 'x');
    const PipeHandle first = createInboundPipe(pipeName(longLeaf + "1").c_str());
    const PipeHandle second = createInboundPipe(pipeName(longLeaf + "2").c_str());
    ASSERT_NE(first, kNoPipe);
    ASSERT_NE(second, kNoPipe);
    const PipeHandle client = openPipeForWriting(pipeName(longLeaf + "2").c_str());
    ASSERT_NE(client, kNoPipe);
    ASSERT_TRUE(writeText(client, "second\n"));
    EXPECT_EQ(readLine(second, &line), PipeStatus::Ok);
    char buffer[16];
    EXPECT_EQ(pipeRead(first, buffer, sizeof(buffer)).status, PipeStatus::Listening);
    closePipe(client);
    closePipe(first);
    closePipe(second);
    EXPECT_TRUE(leftoverFiles().empty());
}

TEST(PlatformNamedPipe, RuntimeFolderIsPrivate)
{
    const std::string folder = pipeRuntimeFolder();
    if (KYRO_TEST_WINDOWS) {
        EXPECT_TRUE(folder.empty());
        return;
    }
    ASSERT_FALSE(folder.empty());
#if !KYRO_TEST_WINDOWS
    std::string native = folder;
    std::replace(native.begin(), native.end(), '\\', '/');
    struct stat info;
    ASSERT_EQ(::lstat(native.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::geteuid());

    // The socket file lives while some instance of its name is open.
    const std::string name = pipeName("inbound0");
    const PipeHandle first = createInboundPipe(name.c_str());
    const PipeHandle second = createInboundPipe(name.c_str());
    ASSERT_NE(first, kNoPipe);
    ASSERT_NE(second, kNoPipe);
    EXPECT_EQ(leftoverFiles().size(), 1u);
    closePipe(first);
    EXPECT_EQ(leftoverFiles().size(), 1u);
    closePipe(second);
    EXPECT_TRUE(leftoverFiles().empty());

    // A runtime folder from the environment that cannot be used safely is passed over.
    ScopedVariable defaultTemporary("TMPDIR", nullptr);
    std::string saved;
    const bool hadRuntime = std::getenv("XDG_RUNTIME_DIR") != nullptr;
    if (hadRuntime)
        saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string fallback = "\\tmp\\norveldt-kyro-" + std::to_string(::geteuid());
    for (const char* unusable : {"relative/folder", "/no/such/folder/anywhere", "/tmp"}) {
        ::setenv("XDG_RUNTIME_DIR", unusable, 1);
        EXPECT_EQ(pipeRuntimeFolder(), fallback) << unusable;
    }
    // A usable one gets a private folder of ours; a symbolic link in its place is refused.
    char base[] = "/tmp/kyropipetest-XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    ::setenv("XDG_RUNTIME_DIR", base, 1);
    const std::string own = std::string(base) + "/norveldt-kyro";
    std::string expected = own;
    std::replace(expected.begin(), expected.end(), '/', '\\');
    EXPECT_EQ(pipeRuntimeFolder(), expected);
    ASSERT_EQ(::lstat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(::rmdir(own.c_str()), 0);
    ASSERT_EQ(::symlink(native.c_str(), own.c_str()), 0);
    EXPECT_EQ(pipeRuntimeFolder(), fallback);
    EXPECT_EQ(::unlink(own.c_str()), 0);
    EXPECT_EQ(::rmdir(base), 0);

    if (hadRuntime)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
#endif
}

// Another user makes the shared temporary folder's name for ours first. Pipes keep working
// from a private folder of ours that other processes of ours find too: in the home, or,
// for a home too deep for socket paths, in the shared folder under a name kept secret in
// the home. We stay there once the name is given up.
TEST(PlatformNamedPipe, AFolderNameTakenByAnotherUserIsPassedOver)
{
    OtherUser other;
    if (!other.unavailable().empty())
        GTEST_SKIP() << other.unavailable();
#if !KYRO_TEST_WINDOWS
    char shared[] = "/tmp/kyrosq-XXXXXX";  // stands for /tmp: everyone's, sticky
    char home[] = "/tmp/kyrohome-XXXXXX";
    ASSERT_NE(::mkdtemp(shared), nullptr);
    ASSERT_NE(::mkdtemp(home), nullptr);
    ASSERT_EQ(::chmod(shared, 01777), 0);
    const std::string deep = std::string(home) + "/" + std::string(60, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    const std::string user = std::to_string(effectiveUserId());
    const std::string taken = std::string(shared) + "/norveldt-kyro-" + user;
    ASSERT_EQ(other.run("mkdir -m 0777 '" + taken + "'"), 0);

    ScopedVariable noRuntime("XDG_RUNTIME_DIR", nullptr);
    ScopedVariable temporary("TMPDIR", shared);
    const auto runtimeFolder = [] {
        std::string folder = pipeRuntimeFolder();
        std::replace(folder.begin(), folder.end(), '\\', '/');
        return folder;
    };
    struct Row {
        std::string home;
        std::string folder;  // empty: a secret name in the shared folder
    };
    const Row rows[] = {{home, std::string(home) + "/.cache/norveldt-kyro-" + user}, {deep, ""}};
    std::vector<std::string> chosen;
    for (const Row& row : rows) {
        ScopedVariable homeVariable("HOME", row.home.c_str());
        const std::string folder = runtimeFolder();
        if (row.folder.empty()) {
            EXPECT_EQ(folder.rfind(taken + "-", 0), 0u) << folder;
            EXPECT_EQ(folder.size(), taken.size() + 17) << folder;
        } else {
            EXPECT_EQ(folder, row.folder);
        }
        struct stat info;
        ASSERT_EQ(::lstat(folder.c_str(), &info), 0) << folder;
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
        EXPECT_EQ(info.st_uid, ::geteuid()) << folder;
        chosen.push_back(folder);

        // Another process of ours finds the pipe there.
        const std::string name = pipeName("squatted");
        const PipeHandle server = createInboundPipe(name.c_str());
        ASSERT_NE(server, kNoPipe) << row.home;
        std::string output;
        ASSERT_TRUE(runRole(("writePipeLine:" + name).c_str(), &output));
        std::string line;
        EXPECT_EQ(readLine(server, &line), PipeStatus::Ok) << row.home;
        EXPECT_EQ(line.rfind("child ", 0), 0u) << line;
        closePipe(server);
    }
    ASSERT_EQ(other.run("rmdir '" + taken + "'"), 0);
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        ScopedVariable homeVariable("HOME", rows[i].home.c_str());
        EXPECT_EQ(runtimeFolder(), chosen[i]) << rows[i].home;
    }
    std::filesystem::remove_all(shared);
    std::filesystem::remove_all(home);
    for (const std::string& folder : chosen)
        std::filesystem::remove_all(folder);
#endif
}
