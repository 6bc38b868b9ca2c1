#include "TempFolder.h"

#include "FileBytes.h"

#include <atomic>
#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
std::atomic<int> g_serial{0};
}

TempFolder::TempFolder()
{
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path folder = fs::temp_directory_path() /
        ("kyro-test-" + std::to_string(stamp) + "-" + std::to_string(g_serial++));
    fs::create_directories(folder);
    TStr text(folder.u8string().c_str());
    text.replaceAll("/", "\\");
    m_path = text;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::remove_all(nativePath(m_path), ignored);
}
