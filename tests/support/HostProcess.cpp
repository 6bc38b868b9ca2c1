#include "HostProcess.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "ScopedVariable.h"

#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/dialog_requests.h"
#include "kyro/int/host_context.h"
#include "kyro/pipe/VexMessages.h"
#include "kyro/platform/process_launch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>

const kyrointutil::KyroProductIdentity kHostProduct{"Kyro Demo", "KyroDemo15"};

namespace {

using SteadyClock = std::chrono::steady_clock;

std::map<std::string, HostOperation>& operations()
{
    static std::map<std::string, HostOperation> table;
    return table;
}

std::mutex g_reportsLock;
std::set<std::string> g_reports;

// The kind of an error report: its text before the first colon (the pipe or packet it names).
void noteReport(kyro::pipe::MessageKind kind, const TStr& line, void*)
{
    if (kind != kyro::pipe::MessageKind::Error)
        return;
    std::string text = line.utf8();
    if (text.compare(0, 7, "Error  ") == 0)
        text.erase(0, 7);
    std::lock_guard<std::mutex> hold(g_reportsLock);
    g_reports.insert(text.substr(0, text.find(':')));
}

KYRO_HOST_OPERATION(locale)
{
    kyrointutil::setLocale("de_DE");
    return 0;
}
KYRO_HOST_OPERATION(error)
{
    return kyrointutil::showErrorDialog("Kyro", "Something failed", "The details; more", 4);
}
KYRO_HOST_OPERATION(memory)
{
    return kyrointutil::showInsufficientMemory();
}
KYRO_HOST_OPERATION(message)
{
    return kyrointutil::showMessageBox("Kyro", "Go on?", 3, "Yes", "No", 1);
}
KYRO_HOST_OPERATION(privacy)
{
    return kyrointutil::showPrivacyPolicy(kHostProduct, "", "C:\\img\\hero.png");
}
KYRO_HOST_OPERATION(consent)
{
    bool consented = false;
    return kyrointutil::readPrivacyPolicyConsent(kHostProduct, &consented) ? consented : -1;
}

// `argument`: the operations. Prints "<operation>=<result> <milliseconds>" for each, then
// "report: <kind>" for each kind of error report the pipe framework made.
KYRO_CHILD_ROLE(host)
{
    std::string folder;
    kyro::platform::environmentVariable("KYRO_TEST_FOLDER", &folder);
    KyroLogger::instance_m()->setLogFileName(TPath(folder.c_str()) / "errors.log");
    kyro::pipe::setMessageObserver(&noteReport, nullptr);
    std::stringstream list(argument);
    std::string item;
    while (std::getline(list, item, ',')) {
        const std::string::size_type slash = item.find('/');
        const std::string name = item.substr(0, slash);
        const auto found = operations().find(name);
        const SteadyClock::time_point start = SteadyClock::now();
        const int result = found == operations().end()
                               ? -99
                               : found->second(slash == std::string::npos ? "" : item.substr(slash + 1));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
        std::printf("%s=%d %lld\n", name.c_str(), result, static_cast<long long>(took.count()));
        std::fflush(stdout);
    }
    kyro::pipe::setMessageObserver(nullptr, nullptr);
    for (const std::string& report : g_reports)
        std::printf("report: %s\n", report.c_str());
    return 0;
}

}  // namespace

HostOperationRegistration::HostOperationRegistration(const char* name, HostOperation run)
{
    operations()[name] = run;
}

HostRun runHost(const TempFolder& folder, const std::string& operations, const char* script,
                const TStr* binaries)
{
    const TStr programs = binaries != nullptr ? *binaries : thisTestProgram().directory();
    std::string environment = "<KYROCUSTOMENV><PLATFORM OS=\"Windows\">"
                              "<KEY ID=\"KYRO_USER_SETTINGS_FILE_LOCATION\"><STRING>" +
                              std::string((folder / "user").utf8()) + "</STRING></KEY>";
    if (!programs.isEmpty())
        environment += "<KEY ID=\"KYRO_COMMON_BIN_LOCATION\"><STRING>" +
                       std::string(programs.utf8()) + "</STRING></KEY>";
    writeFileBytes(folder / "custom.xml", environment + "</PLATFORM></KYROCUSTOMENV>");

    ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (folder / "custom.xml").utf8());
    ScopedVariable answers("KYRO_VEX_ANSWERS", script);
    ScopedVariable requests("KYRO_VEX_REQUEST_LOG", (folder / "requests.log").utf8());
    ScopedVariable testFolder("KYRO_TEST_FOLDER", folder.path().utf8());
    HostRun run;
    if (!runRole(("host:" + operations).c_str(), &run.output))
        run.output = "<not run>";
    std::stringstream lines(run.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 8, "report: ") == 0) {
            run.reports.insert(line.substr(8));
            continue;
        }
        const std::string::size_type equals = line.find('=');
        const std::string::size_type blank = line.rfind(' ');
        if (equals != std::string::npos && blank != std::string::npos && blank > equals &&
            line.find_first_not_of("0123456789", blank + 1) == std::string::npos) {
            run.times.push_back(std::atoll(line.c_str() + blank + 1));
            line.resize(blank);
            run.lines.push_back(line);
        }
        run.results += line + "\n";
    }
    return run;
}

std::vector<std::string> libraryRecords(const TStr& log)
{
    std::vector<std::string> found;
    std::string place;
    for (const std::string& line : looseFileLines(log)) {
        const std::string::size_type file = line.find("File=");
        if (file != std::string::npos)
            place = line.substr(file + 5, line.find(',', file) - file - 5);
        const std::string::size_type status = line.find("KyroIntError=");
        if (status != std::string::npos) {
            const std::string rest = line.substr(status + 13);
            found.push_back(rest.substr(0, rest.find_first_of(" \r")) + "@" + place);
        }
    }
    return found;
}
