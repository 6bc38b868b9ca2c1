// Named pipes: read and write outcomes, blocked calls, names, and the folder of the sockets.
#include "kyro/platform/named_pipe.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include "Accounts.h"
#include "ScopedVariable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>

#if !KYRO_TEST_WINDOWS
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kyro::platform;

namespace {

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

PipeStatus readStatus(PipeHandle pipe)
{
    char buffer[64];
    return pipeRead(pipe, buffer, sizeof(buffer)).status;
}

// What was read up to the first "\n", or "failed" when a read was not Ok before it.
std::string readLine(PipeHandle pipe)
{
    std::string text;
    char buffer[256];
    while (text.find('\n') == std::string::npos) {
        const PipeResult got = pipeRead(pipe, buffer, sizeof(buffer));
        if (got.status != PipeStatus::Ok)
            return "failed";
        text.append(buffer, got.bytes);
    }
    return text;
}

}  // namespace

TEST(PlatformNamedPipe, OneConnectionFromListeningToBroken)
{
    const std::string name = pipeName("inbound0");
    std::uint32_t error = 1;
    const PipeHandle server = createInboundPipe(name.c_str(), &error);
    ASSERT_NE(server, kNoPipe) << error;
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(readStatus(server), PipeStatus::Listening);
    EXPECT_FALSE(pipeDisconnect(server));  // nobody to disconnect: it keeps listening
    ASSERT_TRUE(waitForPipe(name.c_str(), 1000));
    EXPECT_EQ(readStatus(server), PipeStatus::Listening);  // probing left no client behind

    const PipeHandle client = openPipeForWriting(name.c_str());
    EXPECT_EQ(waitForClient(server), PipeConnectResult::Connected);  // came before the call
    ASSERT_TRUE(writeText(client, "65536;system.cndCnct;10;0;0;2;CPID=i5120\n"));
    EXPECT_TRUE(pipeFlush(client));  // does not wait for the server to read
    EXPECT_EQ(readLine(server), "65536;system.cndCnct;10;0;0;2;CPID=i5120\n");
    EXPECT_EQ(pipeWrite(server, "x", 1).status, PipeStatus::OtherError);  // one way only
    // Disconnected: reads say so until the instance listens again; the client is cut off.
    EXPECT_TRUE(pipeDisconnect(server));
    EXPECT_EQ(readStatus(server), PipeStatus::Disconnected);
    EXPECT_EQ(pipeWrite(client, "two\n", 4).status, PipeStatus::Broken);
    closePipe(client);
    closePipe(server);

    // The client goes: what it wrote before is read, then the pipe is broken. The server goes:
    // the client's writes fail so.
    for (const bool serverGoes : {false, true}) {
        const PipeHandle instance = createInboundPipe(name.c_str()), writer = openPipeForWriting(name.c_str());
        ASSERT_EQ(waitForClient(instance), PipeConnectResult::Connected);
        ASSERT_TRUE(writeText(writer, "last\n"));
        closePipe(serverGoes ? instance : writer);
        if (serverGoes) {
            EXPECT_EQ(pipeWrite(writer, "x", 1).status, PipeStatus::Broken);
        } else {
            EXPECT_EQ(readLine(instance), "last\n");
            EXPECT_EQ(readStatus(instance), PipeStatus::Broken);
        }
        closePipe(serverGoes ? writer : instance);
    }
    EXPECT_EQ(readStatus(server), PipeStatus::InvalidHandle);
    EXPECT_EQ(pipeWrite(client, "x", 1).status, PipeStatus::InvalidHandle);
    EXPECT_FALSE(pipeFlush(server));
    EXPECT_EQ(waitForClient(server), PipeConnectResult::Closed);
    closePipe(server);  // twice, and a value that names no pipe: nothing happens
    closePipe(0);

    // No such pipe: the client calls fail at once with the system's reason.
    error = 0;
    EXPECT_FALSE(waitForPipe(name.c_str(), 1000));
    EXPECT_EQ(openPipeForWriting(name.c_str(), &error), kNoPipe);
    EXPECT_NE(error, 0u);
}

// The reader thread of a pipe device and a writer stuck on a full pipe stop this way.
TEST(PlatformNamedPipe, CloseOrDisconnectReleasesBlockedCalls)
{
    enum Call { kWaitForClient, kRead, kWriteBulk };
    // disconnect: else the handle the call uses is closed.
    const struct { const char* name; Call call; bool disconnect; int outcome; } rows[] = {
        {"wait for a client, closed", kWaitForClient, false, int(PipeConnectResult::Closed)},
        {"read, closed", kRead, false, int(PipeStatus::InvalidHandle)},
        {"read, disconnected", kRead, true, int(PipeStatus::Disconnected)},
        {"write to a full pipe, closed", kWriteBulk, false, int(PipeStatus::InvalidHandle)},
    };
    const std::string name = pipeName("blocked");
    const std::string bulk(4 << 20, 'b');  // far more than any pipe buffer holds
    // Counted from the second pass: the first makes what the runtime keeps for later calls.
    int handlesBefore = 0;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1)
            handlesBefore = openHandleCount();
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            const PipeHandle server = createInboundPipe(name.c_str());
            PipeHandle client = kNoPipe;
            if (row.call != kWaitForClient) {
                client = openPipeForWriting(name.c_str());
                ASSERT_EQ(waitForClient(server), PipeConnectResult::Connected);
            }
            int outcome = -1;
            std::thread blocked([&] {
                if (row.call == kWaitForClient)
                    outcome = static_cast<int>(waitForClient(server));
                else if (row.call == kRead)
                    outcome = static_cast<int>(readStatus(server));
                else
                    outcome = static_cast<int>(
                        pipeWrite(client, bulk.data(), static_cast<std::uint32_t>(bulk.size())).status);
            });
            // Before the call starts or while it blocks: the same outcome.
            if (row.disconnect)
                EXPECT_TRUE(pipeDisconnect(server));
            else
                closePipe(row.call == kWriteBulk ? client : server);
            blocked.join();
            EXPECT_EQ(outcome, row.outcome);
            closePipe(client);
            closePipe(server);
        }
    }
    EXPECT_LE(openHandleCount(), handlesBefore);  // pipes and threads leave nothing open
}

TEST(PlatformNamedPipe, NamesIgnoreCaseAndStayApartOtherwise)
{
    // Escaped characters and long names that differ only at the end.
    const std::string longLeaf(180, 'x');
    const struct { std::string created, opened; bool same; } rows[] = {
        {"zmixedcasez", "ZMixedCaseZ", true}, {"plus+name", "plus;name", false},
        {longLeaf + "1", longLeaf + "2", false}, {longLeaf + "2", longLeaf + "2", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.opened);
        const PipeHandle created = createInboundPipe(pipeName(row.created).c_str());
        const PipeHandle opened = openPipeForWriting(pipeName(row.opened).c_str());
        EXPECT_EQ(opened != kNoPipe, row.same);
        if (opened != kNoPipe) {
            ASSERT_TRUE(writeText(opened, "hello\n"));
            EXPECT_EQ(readLine(created), "hello\n");
        }
        closePipe(opened);
        closePipe(created);
    }
}

#if !KYRO_TEST_WINDOWS
namespace {

std::string runtimeFolder()
{
    std::string folder = pipeRuntimeFolder();
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder;
}

// A folder of ours only we may use.
void expectPrivate(const std::string& folder)
{
    struct stat info;
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0) << folder;
    EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFDIR | 0700u) << folder;
    EXPECT_EQ(info.st_uid, ::geteuid()) << folder;
}

}  // namespace

TEST(PlatformNamedPipe, RuntimeFolderIsPrivate)
{
    expectPrivate(runtimeFolder());

    // An unsafe runtime folder from the environment gives way to ours in the shared temporary one.
    char base[] = "/tmp/kyropipetest-XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    ScopedVariable home("HOME", base);  // no fallback folder there
    const std::string user = std::to_string(::geteuid());
    const std::string own = std::string(base) + "/norveldt-kyro";
    struct stat info;
    const bool rootsTemporary = ::stat("/var/tmp", &info) == 0 && info.st_uid == 0 &&
                                (info.st_mode & S_ISVTX) != 0;
    const std::string fallback = "/tmp/norveldt-kyro-" + user;
    const struct { const char *runtime, *temporary; std::string folder; } rows[] = {
        {"relative/folder", nullptr, fallback}, {"/no/such/folder/anywhere", nullptr, fallback},
        {"/tmp", "relative", fallback},
        {"/tmp", rootsTemporary ? "/var/tmp/" : nullptr,
         (rootsTemporary ? "/var/tmp/norveldt-kyro-" : "/tmp/norveldt-kyro-") + user},
        {base, nullptr, own},
    };
    for (const auto& row : rows) {
        ScopedVariable runtime("XDG_RUNTIME_DIR", row.runtime), temporary("TMPDIR", row.temporary);
        EXPECT_EQ(runtimeFolder(), row.folder) << row.runtime;
        expectPrivate(row.folder);
    }
    if (rootsTemporary)
        ::rmdir(("/var/tmp/norveldt-kyro-" + user).c_str());
    EXPECT_EQ(::rmdir(own.c_str()), 0);
    EXPECT_EQ(::rmdir(base), 0);
}

// Another user takes our name in the shared temporary folder first: we use a private folder
// in the home, which our other processes find too, and keep to it once the name is free.
TEST(PlatformNamedPipe, AFolderNameTakenByAnotherUserIsPassedOver)
{
    OtherUser other;
    if (!other.unavailable().empty())
        GTEST_SKIP() << other.unavailable();
    char shared[] = "/tmp/kyrosq-XXXXXX";  // stands for /tmp: everyone's, sticky
    ASSERT_NE(::mkdtemp(shared), nullptr);
    ASSERT_EQ(::chmod(shared, 01777), 0);
    const std::string user = std::to_string(effectiveUserId());
    const std::string taken = std::string(shared) + "/norveldt-kyro-" + user;
    const std::string home = std::string(shared) + "/home";
    ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
    ASSERT_EQ(other.run("mkdir -m 0777 '" + taken + "'"), 0);
    ScopedVariable noRuntime("XDG_RUNTIME_DIR", nullptr), temporary("TMPDIR", shared);
    ScopedVariable homeVariable("HOME", home.c_str());
    EXPECT_EQ(runtimeFolder(), home + "/.cache/norveldt-kyro-" + user);
    expectPrivate(home + "/.cache/norveldt-kyro-" + user);
    ASSERT_EQ(other.run("rmdir '" + taken + "'"), 0);
    EXPECT_EQ(runtimeFolder(), home + "/.cache/norveldt-kyro-" + user);
    std::filesystem::remove_all(shared);
}
#endif
