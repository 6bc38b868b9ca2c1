#include "LogLines.h"

#include "FileBytes.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/known_folders.h"
#include "kyro/platform/process_launch.h"

#include <cstring>

namespace {

// Reaches the protected host facts.
class FactsReader : public KyroLoggable {
public:
    static void read(TStr* hostName, TStr* platformOS)
    {
        setSystemInformation();
        systemInformation(hostName, platformOS);
    }
};

}  // namespace

std::string HostFacts::hostName()
{
    TStr host, os;
    FactsReader::read(&host, &os);
    return host.utf8();
}

std::string HostFacts::platformOS()
{
    TStr host, os;
    FactsReader::read(&host, &os);
    return os.utf8();
}

std::vector<std::string> logLines(KyroLogger& logger, const KyroLoggable& record,
                                  const char* separator, bool precise)
{
    const std::vector<std::string> before = fileLines(logger.getLogFileName());
    if (precise)
        logger.startLoggingWMilliSecs();
    else
        logger.startLogging();
    const TStr header = logger.getHeader();
    TStr stamp = header;
    stamp.replaceAll("\t", separator);
    const std::string prefix = std::string(stamp.utf8()) + separator;
    logger.log(record);
    const std::vector<std::string> after = fileLines(logger.getLogFileName());
    std::vector<std::string> added;
    for (std::size_t i = before.size(); i < after.size(); ++i) {
        const std::string& line = after[i];
        if (line.compare(0, prefix.size(), prefix) == 0)
            added.push_back(line.substr(prefix.size()));
        else
            added.push_back("UNSTAMPED:" + line);
    }
    return added;
}

void writeTestTable(const TPath& path)
{
    writeFileBytes(path,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<ERRORTABLES>\n"
                   "  <TABLE VENDORID=\"1\"><NAME>Kyro Integration Library</NAME>\n"
                   "    <ERROR CODE=\"5\"><DESCRIPTION>The companion could not be reached</DESCRIPTION></ERROR>\n"
                   "  </TABLE>\n"
                   "  <TABLE VENDORID=\"2\"><NAME>Vex Companion</NAME>\n"
                   "    <ERROR CODE=\"3\"><DESCRIPTION>The dialog failed</DESCRIPTION></ERROR>\n"
                   "  </TABLE>\n"
                   "</ERRORTABLES>\n");
}

std::string userFolder()
{
    return kyro::platform::localAppDataFolder() + "\\Norveldt\\Kyro\\";
}

UserFolderInTemp::UserFolderInTemp(const TempFolder& temp)
    : m_variable("XDG_DATA_HOME", nativePath(temp.path()).string().c_str())
{
}
