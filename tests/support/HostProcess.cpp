#include "HostProcess.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "ScopedVariable.h"

#include "kyro/platform/process_launch.h"

std::string runHost(const TempFolder& folder, const std::string& role, const char* script,
                    const TStr* binaries)
{
    const TStr programs = binaries != nullptr ? *binaries : thisTestProgram().directory();
    std::string environment = "<KYROCUSTOMENV><PLATFORM OS=\"Windows\">"
                              "<KEY ID=\"KYRO_USER_SETTINGS_FILE_LOCATION\"><STRING>" +
                              std::string((folder / "user").utf8()) + "</STRING></KEY>";
    if (!programs.isEmpty())
        environment += "<KEY ID=\"KYRO_COMMON_BIN_LOCATION\"><STRING>" +
                       std::string(programs.utf8()) + "</STRING></KEY>";
    environment += "</PLATFORM></KYROCUSTOMENV>";
    writeFileBytes(folder / "custom.xml", environment);

    ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (folder / "custom.xml").utf8());
    ScopedVariable answers("KYRO_VEX_ANSWERS", script);
    ScopedVariable requests("KYRO_VEX_REQUEST_LOG", (folder / "requests.log").utf8());
    ScopedVariable testFolder("KYRO_TEST_FOLDER", folder.path().utf8());
    std::string output;
    const bool ran = runRole(role.c_str(), &output);
    return ran ? output : "<not run>";
}

TPath hostTestFolder()
{
    std::string folder;
    kyro::platform::environmentVariable("KYRO_TEST_FOLDER", &folder);
    return TPath(folder.c_str());
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
