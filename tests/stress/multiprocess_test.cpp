// Several processes writing one error log: every record whole and in one piece, none lost,
// and a process that ends while it holds the log's mutex stalls nobody.
#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/KyroLogger.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "LogLines.h"
#include "TempFolder.h"
#include "kyro/util/KyroMutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// A writer's job, as its role's argument: "<tag>,<count>,<path>".
struct ChildJob {
    std::string tag;
    int count = 0;
    std::string path;
};

ChildJob parseChildJob(const std::string& argument)
{
    ChildJob job;
    const std::string::size_type first = argument.find(',');
    const std::string::size_type second = argument.find(',', first + 1);
    job.tag = argument.substr(0, first);
    job.count = std::atoi(argument.substr(first + 1, second - first - 1).c_str());
    job.path = argument.substr(second + 1);
    return job;
}

std::string childJobRole(const char* role, const std::string& tag, int count, const TStr& path)
{
    return std::string(role) + ":" + tag + "," + std::to_string(count) + "," + path.utf8();
}

// Reason, ComputerName, OS, File/Line, KyroIntError, VendorID, VendorError.
constexpr std::size_t kLinesPerRecord = 7;

// One record in 16 outgrows the runtime's file buffer: only the log's mutex keeps it whole.
std::string padding(int number)
{
    return number % 16 == 5 ? " " + std::string(5000, 'x') : std::string();
}

// Each record must be one run of lines with one stamp, each tag's records all there and in order.
std::string checkRecords(const TStr& path, const std::map<std::string, int>& counts)
{
    const std::vector<std::string> lines = fileLines(path);
    std::map<std::string, int> next;
    std::string problems;
    for (std::size_t i = 0; i + kLinesPerRecord <= lines.size() && problems.size() < 2000; i += kLinesPerRecord) {
        const std::string stamp = lines[i].substr(0, lines[i].find("\tReason=") + 1);
        char tag[16] = "";
        int number = -1;
        std::sscanf(lines[i].c_str() + stamp.size(), "Reason=%15s %d", tag, &number);
        const std::string n = std::to_string(number);
        const std::string expected[kLinesPerRecord] = {"Reason=" + std::string(tag) + " " + n + padding(number),
            "ComputerName=" + HostFacts::hostName(), "OS=" + HostFacts::platformOS(), "File=writer.cpp,Line=" + n,
            "KyroIntError=" + n, "VendorID=2", "VendorError=" + n};
        for (std::size_t k = 0; k < kLinesPerRecord; ++k) {
            if (lines[i + k] != stamp + expected[k])
                problems += "line " + std::to_string(i + k) + " is not of record " + n + ": " +
                    lines[i + k].substr(0, 100) + "; ";
        }
        if (number != next[tag]++)
            problems += std::string(tag) + " record " + n + " out of order; ";
    }
    for (const auto& [tag, count] : counts) {
        if (next[tag] != count)
            problems += tag + ": " + std::to_string(next[tag]) + " records of " + std::to_string(count) + "; ";
    }
    return problems;
}

}  // namespace

// Writes `count` error records with the process-wide logger into `path`.
KYRO_CHILD_ROLE(errorWriter)
{
    const ChildJob job = parseChildJob(argument);
    KyroLogger* logger = KyroLogger::instance_m();
    logger->setLogFileName(job.path.c_str());
    for (int i = 0; i < job.count; ++i) {
        CKyroIntError error(Kyro::kVendorVex, i, "C:\\src\\writer.cpp", i, "");
        error.setReason(TStr((job.tag + " " + std::to_string(i) + padding(i)).c_str()));
        logger->startLogging();
        logger->log(error);
    }
    return 0;
}

// Takes the log's mutex `count` times and ends holding it (an abandoned mutex fails one lock).
KYRO_CHILD_ROLE(dieHoldingLogMutex)
{
    const ChildJob job = parseChildJob(argument);
    KyroMutex mutex;
    const auto take = [&mutex] { return mutex.lock(-1) || mutex.lock(-1); };
    mutex.create(TStr(job.path.c_str()).cutLast("\\") + ".Mutex");
    for (int i = 1; i < job.count; ++i) {
        if (take())
            mutex.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!take())
        return std::printf("the mutex could not be taken\n");
    std::_Exit(0);
}

TEST(SharedLog, EightProcessesAndAnOwnerThatEndsHoldingTheMutex)
{
    TempFolder temp;
    const TPath path = temp / "shared.log";
    std::vector<std::string> roles{childJobRole("dieHoldingLogMutex", "X", 50, path)};
    std::map<std::string, int> counts;
    for (int p = 0; p < 8; ++p) {
        roles.push_back(childJobRole("errorWriter", "P" + std::to_string(p), 5000, path));
        counts["P" + std::to_string(p)] = 5000;
    }
    ASSERT_TRUE(runRolesTogether(roles));
    EXPECT_EQ(fileLines(path).size(), 8 * 5000 * kLinesPerRecord);
    EXPECT_EQ(checkRecords(path, counts), "");
}
