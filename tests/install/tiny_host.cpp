// A host that knows kyroint only from its installed package: the library's version, a
// text of the installed string table, a record in an error log, and a message box
// answered by the installed companion.
//
//   tiny_host <installed data folder> <error log>
#include <kyro/diagnostics/KyroErrorBase.h>
#include <kyro/diagnostics/KyroLogger.h>
#include <kyro/kyroint.h>
#include <kyro/util/TStr.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    std::printf("version=%s startUp=%d\n", kyrointVersion(), kyrointStartUp());
    char text[128];
    kyrointSetResourceFolder(argv[1]);
    kyrointGetString("IDS_BUTTON_CANCEL", text, sizeof text);
    std::printf("text=%s\n", text);
    std::printf("%s\n", TStr("%1 of %2").arg(3).arg(4).utf8());

    KyroLogger* logger = KyroLogger::instance_m();
    logger->setLogFileName(argv[2]);
    logger->startLogging();
    logger->log(KyroErrorBase(Kyro::kVendorHost, 1, "tiny_host.cpp", 27, "1.0"));

    std::printf("button=%d\n", kyrointShowMessageBox("Kyro", "Installed?", 3, "Yes", "No", 1));
    return 0;
}
