// The root certificate upkeep and what it rests on: the debugger output (read back through
// KYRO_DEBUG_OUTPUT), the search of the system trust store by display name, and the one-time
// open of the identity service's address. The store and the network are arranged by
// TrustTestSupport for each platform; no test reaches the real network.
#include "kyro/int/root_certificate.h"
#include "kyro/platform/debug_output.h"
#include "kyro/platform/process_launch.h"
#include "kyro/platform/trust_store.h"
#include "kyro/platform/web_request.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"
#include "TrustTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace kyro::platform {

void PrintTo(TrustStoreLookup lookup, std::ostream* out)
{
    static const char* const kNames[] = {"StoreNotOpened", "Found", "NotFound", "Failed"};
    *out << kNames[static_cast<int>(lookup)];
}

void PrintTo(WebRequestResult result, std::ostream* out)
{
    static const char* const kNames[] = {"SessionFailed", "AddressFailed", "Opened", "TimedOut"};
    *out << kNames[static_cast<int>(result)];
}

}  // namespace kyro::platform

namespace {

using kyro::platform::TrustStoreLookup;
using kyro::platform::WebRequestResult;
using Lines = std::vector<std::string>;

const char kFound[] = "KyRO: checkC7Certificate - Found required certificate in the store.";
const char kNotFound[] =
    "KyRO: checkC7Certificate - Unable to find required certiface in the store.";
const char kNoStore[] = "KyRO: checkC7Certificate - Unable to open certificate store !!!";
const char kUpdating[] =
    "KyRO: updateRootCertificate - Updating certificate for Corvel 'PRODUCTION'...";
const char kUrlFailed[] = "KyRO: updateRootCertificate - Failed to open URL !!!";

Lines splitLines(const std::string& text)
{
    Lines lines;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start) + "(no line end)");
    return lines;
}

// The debugger output of this process (and of the children it starts), collected in a
// file of its own while the object lives.
class DebugOutput {
public:
    DebugOutput()
        : m_file(m_folder / "debug output.log"),
          m_variable(kyro::platform::kDebugOutputFileVariable,
                     nativePath(m_file).u8string().c_str())
    {
    }

    const TPath& file() const { return m_file; }
    std::string text() const { return readFileBytes(m_file); }

    // The lines written since the last call.
    Lines take()
    {
        const Lines lines = splitLines(text());
        writeFileBytes(m_file, "");
        return lines;
    }

private:
    TempFolder m_folder;
    TPath m_file;
    ScopedVariable m_variable;
};

// ---- debugger output ----

TEST(DebugOutput, EachMessageIsAppendedAsOneLineToTheNamedFile)
{
    DebugOutput output;
    writeFileBytes(output.file(), "kept\n");
    kyro::platform::writeDebugOutput("first message");
    kyro::platform::writeDebugOutput(u8"zweite Nachricht: \u00e4\u00f6\u00fc \u20ac \U0001F600");
    kyro::platform::writeDebugOutput("");
    kyro::platform::writeDebugOutput(nullptr);
    EXPECT_EQ(output.text(), std::string("kept\nfirst message\n") +
                                 u8"zweite Nachricht: \u00e4\u00f6\u00fc \u20ac \U0001F600" +
                                 "\n\n\n");

    // A file that is not there yet is made.
    const TempFolder folder;
    const TPath fresh = folder / "fresh.log";
    {
        const ScopedVariable variable(kyro::platform::kDebugOutputFileVariable,
                                      nativePath(fresh).u8string().c_str());
        kyro::platform::writeDebugOutput("into a new file");
    }
    EXPECT_EQ(readFileBytes(fresh), "into a new file\n");

    // Without the variable, and where the file cannot be written, the message just goes.
    {
        const ScopedVariable unset(kyro::platform::kDebugOutputFileVariable, nullptr);
        kyro::platform::writeDebugOutput("not collected");
    }
    {
        const ScopedVariable folderName(kyro::platform::kDebugOutputFileVariable,
                                        nativePath(folder.path()).u8string().c_str());
        kyro::platform::writeDebugOutput("a folder is no file");
        const ScopedVariable missingFolder(
            kyro::platform::kDebugOutputFileVariable,
            nativePath(folder / "missing" / "debug.log").u8string().c_str());
        kyro::platform::writeDebugOutput("nor is a file in a missing folder");
    }
    EXPECT_EQ(readFileBytes(fresh), "into a new file\n");
    EXPECT_FALSE(fileExists(folder / "missing"));
}

// Writes 200 long lines tagged with the argument.
KYRO_CHILD_ROLE(appendDebugLines)
{
    for (int i = 0; i < 200; ++i) {
        const std::string line = "child " + argument + " line " + std::to_string(i) + " " +
                                 std::string(200, static_cast<char>('a' + i % 26));
        kyro::platform::writeDebugOutput(line.c_str());
    }
    return 0;
}

TEST(DebugOutput, SeveralProcessesShareOneFileLineByLine)
{
    DebugOutput output;
    const char* const tags[] = {"A", "B", "C"};
    std::vector<std::thread> children;
    std::string outputs[3];
    bool started[3] = {};
    for (int c = 0; c < 3; ++c) {
        children.emplace_back([&, c] {
            started[c] = runRole((std::string("appendDebugLines:") + tags[c]).c_str(),
                                 &outputs[c]);
        });
    }
    for (std::thread& child : children)
        child.join();

    int next[3] = {};
    for (const std::string& line : output.take()) {
        bool known = false;
        for (int c = 0; c < 3 && !known; ++c) {
            const std::string expected =
                "child " + std::string(tags[c]) + " line " + std::to_string(next[c]) + " " +
                std::string(200, static_cast<char>('a' + next[c] % 26));
            if (line == expected) {
                known = true;
                ++next[c];
            }
        }
        EXPECT_TRUE(known) << "a line torn or out of order: " << line.substr(0, 40);
    }
    for (int c = 0; c < 3; ++c) {
        EXPECT_TRUE(started[c]);
        EXPECT_EQ(outputs[c], "") << tags[c];
        EXPECT_EQ(next[c], 200) << tags[c];
    }
}

// Runs the whole upkeep with the network out of reach, after writing a message; the file
// of the debugger output is dropped first when the argument says so.
KYRO_CHILD_ROLE(upkeepQuietly)
{
    if (argument == "drop")
        kyro::platform::setEnvironmentVariable(kyro::platform::kDebugOutputFileVariable, nullptr);
    kyro::platform::writeDebugOutput("a message for the debugger");
    const UnreachableNetwork network;
    if (!network.active())
        return 2;
    if (!kyrointutil::checkC7Certificate())
        kyrointutil::updateRootCertificate();
    return 0;
}

TEST(DebugOutput, NothingReachesTheStandardOutputOrError)
{
    DebugOutput output;
    std::string printed;
    ASSERT_TRUE(runRole("upkeepQuietly:drop", &printed));
    EXPECT_EQ(printed, "");
    EXPECT_EQ(output.take(), Lines());

    ASSERT_TRUE(runRole("upkeepQuietly:keep", &printed));
    EXPECT_EQ(printed, "");
    const Lines lines = output.take();
    // Whatever the machine's own store holds: the check's line, and the update's two when
    // the root is missing.
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "a message for the debugger");
    if (lines[1] == kFound)
        EXPECT_EQ(lines.size(), 2u);
    else
        EXPECT_EQ(lines, (Lines{"a message for the debugger", lines[1], kUpdating, kUrlFailed}));
}

// ---- the trust store ----

TEST(TrustStore, FindsACertificateByItsSimpleDisplayNameExactly)
{
    const std::string root = "GTE CyberTrust Global Root";
    struct Row {
        const char* file;
        std::string name;
        TrustStoreLookup expected;
    };
    const Row rows[] = {
        {"gte-root.pem", root, TrustStoreLookup::Found},
        {"gte-root.pem", "GTE CyberTrust Global", TrustStoreLookup::NotFound},
        {"gte-root.pem", root + " ", TrustStoreLookup::NotFound},
        {"gte-root.pem", "", TrustStoreLookup::NotFound},
        {"gte-root-other-case.pem", root, TrustStoreLookup::NotFound},
        {"gte-root-other-case.pem", "GTE Cybertrust Global Root", TrustStoreLookup::Found},
        // The common name first, then the unit, the organisation, the e-mail address.
        {"name-from-unit.pem", root, TrustStoreLookup::Found},
        {"name-from-common-name.pem", root, TrustStoreLookup::NotFound},
        {"name-from-common-name.pem", "Kyro Test Named Root", TrustStoreLookup::Found},
        {"name-from-email.pem", "roots@example.com", TrustStoreLookup::Found},
        {"name-from-email.pem", "US", TrustStoreLookup::NotFound},
        // Without any of those, the alternative name's e-mail address.
        {"name-from-alt-name.pem", "roots@example.org", TrustStoreLookup::Found},
        // Every text encoding of the name counts.
        {"name-printable.pem", root, TrustStoreLookup::Found},
        {"name-bmp.pem", root, TrustStoreLookup::Found},
        {"name-utf8.pem", u8"Kyro Pr\u00fcfwurzel", TrustStoreLookup::Found},
        {"name-utf8.pem", "Kyro Pruefwurzel", TrustStoreLookup::NotFound},
    };
    TestTrustStore store;
    for (const Row& row : rows) {
        ASSERT_TRUE(store.hold({row.file})) << row.file;
        EXPECT_EQ(kyro::platform::findCertificateByDisplayName("AuthRoot", row.name.c_str()),
                  row.expected)
            << row.file << " looked up as \"" << row.name << "\"";
    }

    // Among others, in either form the store keeps them.
    const std::vector<std::string> several = {"other-root.pem", "name-bmp.pem",
                                              "gte-root-other-case.pem"};
    ASSERT_TRUE(store.hold(several));
    EXPECT_EQ(kyro::platform::findCertificateByDisplayName("AuthRoot", root.c_str()),
              TrustStoreLookup::Found);
    ASSERT_TRUE(store.holdInFolder(several));
    EXPECT_EQ(kyro::platform::findCertificateByDisplayName("AuthRoot", root.c_str()),
              TrustStoreLookup::Found);
    EXPECT_EQ(kyro::platform::findCertificateByDisplayName("AuthRoot", "Kyro Test Missing"),
              TrustStoreLookup::NotFound);

    ASSERT_TRUE(store.makeUnopenable());
    EXPECT_EQ(kyro::platform::findCertificateByDisplayName("AuthRoot", root.c_str()),
              TrustStoreLookup::StoreNotOpened);
}

// ---- the upkeep ----

TEST(RootCertificate, CheckReportsWhetherTheRootIsInTheStore)
{
    DebugOutput output;
    TestTrustStore store;

    ASSERT_TRUE(store.hold({"other-root.pem", "gte-root.pem", "gte-root-other-case.pem"}));
    EXPECT_TRUE(kyrointutil::checkC7Certificate());
    EXPECT_EQ(output.take(), Lines{kFound});

    ASSERT_TRUE(store.holdInFolder({"other-root.pem", "gte-root-other-case.pem", "gte-root.pem"}));
    EXPECT_TRUE(kyrointutil::checkC7Certificate());
    EXPECT_EQ(output.take(), Lines{kFound});

    // A name that differs in letter case only, or the name in a field that is not the
    // display name, is not the root.
    ASSERT_TRUE(store.hold({"other-root.pem", "gte-root-other-case.pem",
                            "name-from-common-name.pem"}));
    EXPECT_FALSE(kyrointutil::checkC7Certificate());
    EXPECT_EQ(output.take(), Lines{kNotFound});

    ASSERT_TRUE(store.hold({}));
    EXPECT_FALSE(kyrointutil::checkC7Certificate());
    EXPECT_EQ(output.take(), Lines{kNotFound});

    ASSERT_TRUE(store.makeUnopenable());
    EXPECT_FALSE(kyrointutil::checkC7Certificate());
    EXPECT_EQ(output.take(), Lines{kNoStore});
}

TEST(RootCertificate, UpdateWithoutNetworkReportsTheAddressFailure)
{
    DebugOutput output;
    const UnreachableNetwork network;
    ASSERT_TRUE(network.active());

    EXPECT_FALSE(kyrointutil::updateRootCertificate());
    EXPECT_EQ(output.take(), (Lines{kUpdating, kUrlFailed}));

    // Only https addresses are opened; anything else fails before a connection is tried.
    EXPECT_EQ(kyro::platform::openWebAddress("KyroTest/1.0", "http://signin.norveldt.com/"),
              WebRequestResult::AddressFailed);
    EXPECT_EQ(kyro::platform::openWebAddress("KyroTest/1.0", "not an address"),
              WebRequestResult::AddressFailed);
    EXPECT_EQ(kyro::platform::openWebAddress("KyroTest/1.0", "https://signin.norveldt.com/"),
              WebRequestResult::AddressFailed);
    EXPECT_EQ(output.take(), Lines());
}

void countIdle(void* calls)
{
    ++*static_cast<int*>(calls);
}

long long millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// The launch's step while the machine stays offline: an update now and then, not at every
// launch and not only at the first.
TEST(RootCertificate, AMissingRootIsSoughtAgainAfterTheRetryInterval)
{
    DebugOutput output;
    TestTrustStore store;
    ASSERT_TRUE(store.hold({"other-root.pem"}));
    const UnreachableNetwork network;
    ASSERT_TRUE(network.active());
    const kyrointutil::RootUpkeepTiming before = kyrointutil::setRootUpkeepTiming({5000, 400});
    const auto intervalOver = [] { std::this_thread::sleep_for(std::chrono::milliseconds(450)); };

    struct Row {
        const char* step;
        bool waitFirst;
        Lines said;
    };
    const Row rows[] = {
        {"first launch", true, {kNotFound, kUpdating, kUrlFailed}},
        {"at once after it", false, {kNotFound}},
        {"again at once", false, {kNotFound}},
        {"after the interval", true, {kNotFound, kUpdating, kUrlFailed}},
        {"at once after that", false, {kNotFound}},
    };
    for (const Row& row : rows) {
        if (row.waitFirst)
            intervalOver();
        kyrointutil::keepRootCertificate(nullptr, nullptr);
        EXPECT_EQ(output.take(), row.said) << row.step;
    }
    // Once the root is there, nothing is fetched.
    ASSERT_TRUE(store.hold({"gte-root.pem"}));
    intervalOver();
    kyrointutil::keepRootCertificate(nullptr, nullptr);
    EXPECT_EQ(output.take(), Lines{kFound});
    kyrointutil::setRootUpkeepTiming(before);
}

// A proxy that takes the connection and never answers: the request is given up at its
// limit, and the caller's idle work goes on meanwhile.
TEST(RootCertificate, AnAddressThatNeverAnswersIsGivenUpWhileTheCallerIdles)
{
    DebugOutput output;
    const UnreachableNetwork network(true);
    ASSERT_TRUE(network.active());

    int calls = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(kyrointutil::updateRootCertificate(700, &countIdle, &calls));
    long long took = millisecondsSince(start);
    EXPECT_GE(took, 650);
    EXPECT_LT(took, 3000);
    EXPECT_GE(calls, 4) << "in " << took << " ms";
    EXPECT_EQ(output.take(), (Lines{kUpdating, kUrlFailed}));

    calls = 0;
    start = std::chrono::steady_clock::now();
    kyro::platform::WebRequestWait wait;
    wait.limitMs = 500;
    wait.idle = &countIdle;
    wait.context = &calls;
    EXPECT_EQ(kyro::platform::openWebAddress("KyroTest/1.0", "https://signin.norveldt.com/", wait),
              WebRequestResult::TimedOut);
    took = millisecondsSince(start);
    EXPECT_LT(took, 2500);
    EXPECT_GE(calls, 3) << "in " << took << " ms";
}

}  // namespace
