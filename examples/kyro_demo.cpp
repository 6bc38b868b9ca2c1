// kyro-demo: a host of kyroint, start to end. It starts the library on the configuration
// the build made beside it (a custom environment file pointing every folder into the
// build tree, where Vex.exe and the data files are), switches the debug and performance
// logs on, logs an error record, asks the companion for an error dialog, a message box and
// the privacy-policy dialog, waits for a worker under the please-wait dialog, and prints
// what happened and every file it touched.
//
// Unless KYRO_VEX_ANSWERS is set already, the companion answers by a script, so the demo
// runs without a person: set it to "" to get real dialogs where the system can show them.
#include "demo_system.h"

#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroErrorBase.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"
#include "kyro/kyroint.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

const char* const kProductName = "Kyro Demo";
const char* const kProductQualifier = "KyroDemo15";
const char* const kScript =
    "ErrorDialog=reply@300;MessageBox=1@300;PrivacyPolicyDialog=3@300;PleaseWaitDialog=none";

std::string joined(const std::string& folder, const char* name)
{
    return folder + pathSeparator() + name;
}

// The file's size now, to print only what this run adds.
std::streamoff sizeOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file ? static_cast<std::streamoff>(file.tellg()) : 0;
}

// The library's paths have "\" separators on every system.
std::string systemPath(const TStr& libraryPath)
{
    std::string path = libraryPath.utf8();
    for (char& c : path) {
        if (c == '\\')
            c = pathSeparator();
    }
    return path;
}

void printFile(const char* what, const std::string& path, std::streamoff from = 0)
{
    std::printf("\n--- %s: %s\n", what, path.c_str());
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::printf("(not there)\n");
        return;
    }
    file.seekg(from);
    std::stringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    std::string clean;
    for (char c : text) {
        if (c != '\r')
            clean += c;
    }
    std::printf("%s%s", clean.c_str(), clean.empty() || clean.back() == '\n' ? "" : "\n");
}

// Times one step in the performance log: "<name>.START" before, "<name>.STOP" after.
template <typename Step>
auto timed(KyroPerfLogger& perf, const char* name, Step step)
{
    KyroPerfLogData data;
    data.marker = TStr(name);
    data.marker += ".START";
    perf.startLoggingWMilliSecs();
    perf.log(KyroPerfLog(Kyro::kVendorHost, data));
    const auto result = step();
    data.marker = TStr(name);
    data.marker += ".STOP";
    perf.startLoggingWMilliSecs();
    perf.log(KyroPerfLog(Kyro::kVendorHost, data));
    return result;
}

std::string text(const char* id)
{
    char buffer[512];
    kyrointGetString(id, buffer, sizeof buffer);
    return buffer;
}

void slowWork(void* seconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(*static_cast<int*>(seconds)));
}

}  // namespace

int main()
{
    // build/<side>/bin/kyro-demo: the build tree is one folder up, its configuration in demo/.
    const std::string programs = programFolder();
    const std::string home = programs.substr(0, programs.find_last_of(pathSeparator()));
    const std::string demo = joined(home, "demo");
    setVariable("KYRO_DEMO_HOME", home);
    setVariable("NORVELDT_KYRO_CUSTOM_ENV", joined(demo, "kyro-demo-env.xml"));
    setVariable("KYRO_DEBUG_MODE", "1");
    setVariable("KYRO_PERF_LOG", "1");
    if (std::getenv("KYRO_VEX_ANSWERS") == nullptr)
        setVariable("KYRO_VEX_ANSWERS", kScript);
    const std::string requests = joined(demo, "companion-requests.log");
    const std::string errors = joined(demo, "KyroErrors.log");
    const std::string settings = joined(joined(demo, "user").c_str(), "KyroUserSettings.xml");
    // Every run shows the whole flow: no consent on record, fresh logs of its own.
    std::remove(requests.c_str());
    std::remove(errors.c_str());
    std::remove(settings.c_str());
    setVariable("KYRO_VEX_REQUEST_LOG", requests);

    // The per-user debug and performance logs (switched on above), and where they stand
    // before this run adds to them.
    KyroDebugLogger debug;
    KyroPerfLogger perf;
    const std::string debugLog = systemPath(debug.getLogFileName());
    const std::string perfLog = systemPath(perf.getLogFileName());
    const std::streamoff debugStart = sizeOf(debugLog);
    const std::streamoff perfStart = sizeOf(perfLog);

    std::printf("kyro-demo: kyroint %s\n", kyrointVersion());
    if (!kyrointStartUp()) {
        std::printf("start-up failed (custom environment status %d)\n",
                    kyrointCustomEnvironmentStatus());
        return 1;
    }
    std::printf("started on %s (custom environment status %d)\n",
                joined(demo, "kyro-demo-env.xml").c_str(), kyrointCustomEnvironmentStatus());
    kyrointSetLocale("en_US");
    std::printf("string table from %s: %s\n", joined(home, "data").c_str(),
                kyrointSetResourceFolder(joined(home, "data").c_str()) ? "loaded" : "not loaded");

    debug.startLogging();
    debug.log(KyroDebugLog(Kyro::kVendorHost, "kyro-demo started"));

    KyroLogger* logger = KyroLogger::instance_m();
    logger->setLogFileName(errors.c_str());
    logger->startLogging();
    logger->log(KyroErrorBase(Kyro::kVendorHost, 2, __FILE__, __LINE__, "1.0"));
    std::printf("logged an error record (Host Application, status 2)\n");

    const std::string caption = text("IDS_ERROR_DIALOG_CAPTION");
    const bool shown = timed(perf, "DEMO_ERROR_DIALOG", [&] {
        return kyrointShowErrorDialog(caption.c_str(), text("IDS_GENERIC_ERROR_MESSAGE").c_str(),
                                      "The demo asked for this dialog.", 4) != 0;
    });
    std::printf("error dialog: %s\n", shown ? "answered" : "no answer (see the error log)");

    const int button = timed(perf, "DEMO_MESSAGE_BOX", [&] {
        return kyrointShowMessageBox(text("IDS_MESSAGE_BOX_CAPTION").c_str(),
                                     text("IDS_MESSAGE_BOX_TITLE").c_str(), 3,
                                     text("IDS_BUTTON_YES").c_str(), text("IDS_BUTTON_NO").c_str(), 1);
    });
    std::printf("message box: button %d chosen\n", button);

    const int policy = timed(perf, "DEMO_PRIVACY_POLICY", [&] {
        return kyrointShowPrivacyPolicy(kProductName, kProductQualifier, "", "");
    });
    std::printf("privacy policy: %d (%s)\n", policy,
                policy == 0 ? "consent given and kept" : policy == 19 ? "declined" : "companion unreachable");
    const int again = kyrointShowPrivacyPolicy(kProductName, kProductQualifier, "", "");
    std::printf("privacy policy again: %d (consent found, nothing sent)\n", again);

    int workMs = 1500;
    const int worked = timed(perf, "DEMO_WORKER",
                             [&] { return kyrointRunWithPleaseWait(&slowWork, &workMs, 300); });
    std::printf("worker: %s, with the please-wait dialog after 300 ms\n",
                worked ? "done" : "not started");
    debug.startLogging();
    debug.log(KyroDebugLog(Kyro::kVendorHost, "kyro-demo done"));

    printFile("what the companion received", requests);
    printFile("error log", errors);
    printFile("debug log (this run)", debugLog, debugStart);
    printFile("performance log (this run)", perfLog, perfStart);
    printFile("user settings", settings);
    return 0;
}
