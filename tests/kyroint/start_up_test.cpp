// The library's start-up: the custom environment file's step and the performance markers.
#include "kyro/int/library_start_up.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "LogLines.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

KYRO_CHILD_ROLE(startUp)
{
    std::printf("%s\n", kyrointutil::startUpCustomEnvironment() ? "started" : "failed");
    return 0;
}

TEST(StartUp, ReportsCustomEnvironmentFilesThatCannotBeLoaded)
{
    TempFolder folder;
    const std::string missing = (folder / "missing.xml").utf8();
    const struct {
        const char* thin;
        const char* custom;
        const char* output;
    } rows[] = {
        {missing.c_str(), nullptr, "KyroInt Error: The NORVELDT_KYRO_THINCLIENT_ENV XML file could not be loaded\nfailed\n"},
        {nullptr, missing.c_str(), "KyroInt Error: The NORVELDT_KYRO_CUSTOM_ENV XML file could not be loaded\nfailed\n"},
        {nullptr, nullptr, "started\n"},
    };
    for (const auto& row : rows) {
        ScopedVariable thin("NORVELDT_KYRO_THINCLIENT_ENV", row.thin), custom("NORVELDT_KYRO_CUSTOM_ENV", row.custom);
        std::string output;
        ASSERT_TRUE(runRole("startUp", &output));
        EXPECT_EQ(output, row.output);
    }
}

KYRO_CHILD_ROLE(userLogs)
{
    std::printf("started:%d\n", kyrointutil::startUpLibrary() ? 1 : 0);
    return 0;
}

TEST(StartUp, PerformanceMarkersAroundTheStartUp)
{
    TempFolder temp;
    UserFolderInTemp redirect(temp);
    const std::string folder = userFolder();
    if (folder.rfind(std::string(temp.path().utf8()) + "\\", 0) != 0)
        GTEST_SKIP() << "the system's own user folder (Windows) is not to be written";
    ScopedVariable perfOn("KYRO_PERF_LOG", "1");
    std::string output;
    ASSERT_TRUE(runRole("userLogs", &output));
    EXPECT_EQ(output, "started:1\n");
    const std::string facts = "," + HostFacts::platformOS() + "," + HostFacts::hostName() +
                              ",15.0.73.0,NA:NA,NA:NA,KyroInt,KYROINITIALIZE.";
    const Lines perfLines = fileLines((folder + "KyroPerfLog.csv").c_str());
    ASSERT_EQ(perfLines.size(), 2u);
    for (std::size_t i = 0; i < perfLines.size(); ++i)
        EXPECT_NE(perfLines[i].find(facts + (i == 0 ? "START," : "STOP,")), std::string::npos) << perfLines[i];
}
