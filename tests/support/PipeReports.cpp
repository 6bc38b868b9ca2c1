#include "PipeReports.h"

#include "kyro/pipe/VexMessages.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace {

std::mutex g_reportsLock;
std::set<std::string> g_reports;

void noteReport(kyro::pipe::MessageKind kind, const TStr& line, void*)
{
    if (kind != kyro::pipe::MessageKind::Error)
        return;
    std::string text = line.utf8();
    if (text.compare(0, 7, "Error  ") == 0)
        text.erase(0, 7);
    const std::string::size_type colon = text.find(':');
    if (colon != std::string::npos)
        text.resize(colon);
    std::lock_guard<std::mutex> hold(g_reportsLock);
    g_reports.insert(text);
}

}  // namespace

void watchPipeReports()
{
    kyro::pipe::setMessageObserver(&noteReport, nullptr);
}

void printPipeReports()
{
    kyro::pipe::setMessageObserver(nullptr, nullptr);
    std::lock_guard<std::mutex> hold(g_reportsLock);
    for (const std::string& report : g_reports)
        std::printf("report: %s\n", report.c_str());
}
