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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Reason, ComputerName, OS, File/Line, KyroIntError, VendorID, VendorError.
constexpr std::size_t kLinesPerRecord = 7;

// One record in 16 is longer than the runtime's file buffer, so that it reaches the file
// in several writes: only the log's mutex keeps other processes out between them.
std::string padding(int number)
{
    return number % 16 == 5 ? " " + std::string(5000, 'x') : std::string();
}

// Checks that the file holds the records of every tag in `counts`, each record as one run
// of lines with one stamp, in the order its process wrote them; returns what is wrong.
std::string checkRecords(const TStr& path, const std::map<std::string, int>& counts)
{
    const std::vector<std::string> lines = fileLines(path);
    std::map<std::string, int> next;
    std::ostringstream problems;
    for (std::size_t i = 0; i < lines.size() && problems.tellp() <= 2000; i += kLinesPerRecord) {
        // The stamp is the text before the third tab.
        const std::string::size_type at = lines[i].find('\t', lines[i].find('\t', lines[i].find('\t') + 1) + 1);
        if (i + kLinesPerRecord > lines.size() || at == std::string::npos || lines[i].compare(at + 1, 7, "Reason=") != 0) {
            problems << "no whole record starts at line " << i << ": " << lines[i].substr(0, 100) << "; ";
            break;
        }
        const std::string stamp = lines[i].substr(0, at + 1), reason = lines[i].substr(at + 1);
        const std::string::size_type space = reason.find(' ');
        const std::string tag = reason.substr(7, space - 7);
        const int number = std::atoi(reason.c_str() + space + 1);
        const std::string n = std::to_string(number);
        const std::string expected[kLinesPerRecord] = {
            "Reason=" + tag + " " + n + padding(number), "ComputerName=" + HostFacts::hostName(),
            "OS=" + HostFacts::platformOS(), "File=writer.cpp,Line=" + n, "KyroIntError=" + n, "VendorID=2",
            "VendorError=" + n};
        for (std::size_t k = 0; k < kLinesPerRecord; ++k) {
            if (lines[i + k] != stamp + expected[k])
                problems << "line " << i + k << " is not part of record " << tag << " " << number << ": "
                         << lines[i + k].substr(0, 100) << "; ";
        }
        if (number != next[tag])
            problems << tag << " record " << number << " where " << next[tag] << " was due; ";
        next[tag] = number + 1;
    }
    for (const auto& [tag, count] : counts) {
        if (next[tag] != count)
            problems << tag << ": " << next[tag] << " records of " << count << "; ";
    }
    return problems.str();
}

// A record that notes whether the log's mutex is free while it is written: another thread
// tries to take it meanwhile.
struct MutexProbe : KyroErrorBase {
    explicit MutexProbe(const char* mutexName) : KyroErrorBase(Kyro::kVendorVex, 0, "", 0, ""), m_mutexName(mutexName) {}
    void dumpTechSupport(KyroLogger* logger) const override
    {
        bool free = false;
        std::thread([&] {
            KyroMutex mutex;
            free = mutex.create(m_mutexName) && mutex.lock(0);
            mutex.unlock();
        }).join();
        logger->logFile().write("MutexFree", free ? 1 : 0);
    }
    TStr m_mutexName;
};

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

// Takes the log's mutex `count` times and ends, holding it, on the last; no destructor
// or exit handler runs.
KYRO_CHILD_ROLE(dieHoldingLogMutex)
{
    const ChildJob job = parseChildJob(argument);
    TStr folder(job.path.c_str());
    KyroMutex mutex;
    if (!mutex.create(folder.cutLast("\\") + ".Mutex")) {
        std::printf("no mutex\n");
        return 3;
    }
    // A lock that meets an earlier owner's abandoned mutex fails once, giving it back.
    const auto take = [&mutex] { return mutex.lock(-1) || mutex.lock(-1); };
    for (int i = 1; i < job.count; ++i) {
        if (take())
            mutex.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!take()) {
        std::printf("the mutex could not be taken\n");
        return 4;
    }
    std::_Exit(0);
}

TEST(SharedLog, EightProcessesFiveThousandRecordsEach)
{
    TempFolder temp;
    const TPath path = temp / "shared.log";
    std::vector<std::string> roles;
    std::map<std::string, int> counts;
    for (int p = 0; p < 8; ++p) {
        const std::string tag = "P" + std::to_string(p);
        roles.push_back(childJobRole("errorWriter", tag, 5000, path));
        counts[tag] = 5000;
    }
    ASSERT_TRUE(runRolesTogether(roles));
    EXPECT_EQ(fileLines(path).size(), 8 * 5000 * kLinesPerRecord);
    EXPECT_EQ(checkRecords(path, counts), "");
}

TEST(SharedLog, AnOwnerThatEndsHoldingTheMutexStallsNobody)
{
    // Writers keep going while another process takes the mutex now and then and ends with
    // it held; their records stay whole.
    TempFolder temp;
    const TPath path = temp / "abandoned.log";
    ASSERT_TRUE(runRolesTogether({childJobRole("errorWriter", "A", 500, path), childJobRole("errorWriter", "B", 500, path),
                                  childJobRole("dieHoldingLogMutex", "X", 50, path)}));
    EXPECT_EQ(checkRecords(path, {{"A", 500}, {"B", 500}}), "");

    // After an owner ended holding it, the next record goes in at once, not after the
    // 10-second wait, and still under the mutex (a file of the same name shares it).
    std::string output;
    ASSERT_TRUE(runRole(childJobRole("dieHoldingLogMutex", "Y", 1, path).c_str(), &output));
    ASSERT_EQ(output, "");
    ASSERT_TRUE(TPath(temp / "other").createDirectories());
    const TPath probePath = temp / "other" / "abandoned.log";
    KyroLogger logger(false);
    logger.setLogFileName(probePath);
    const auto start = std::chrono::steady_clock::now();
    logger.startLogging();
    logger.log(MutexProbe("abandoned.log.Mutex"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const std::vector<std::string> lines = fileLines(probePath);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(lines[0].rfind('\t') + 1), "MutexFree=0");
}
