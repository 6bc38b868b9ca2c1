// kyro-demo: a small host of kyroint. It writes a few stamped records with the exported
// KyroDelimitedFile and prints the file it wrote.
#include "kyro/diagnostics/KyroDelimitedFile.h"
#include "kyro/util/TPath.h"

#include <cstdio>
#include <cstdlib>

namespace {

TPath demoFolder(int argc, char** argv)
{
    if (argc > 1)
        return TPath(argv[1]);
    return TPath("kyro-demo-output");
}

}  // namespace

int main(int argc, char** argv)
{
    TPath folder = demoFolder(argc, argv);
    if (!folder.createDirectories()) {
        std::fprintf(stderr, "kyro-demo: cannot create %s\n", folder.utf8());
        return 1;
    }
    const TPath logPath = folder / "KyroDemo.log";

    KyroDelimitedFile log(logPath);
    log.clearContents();

    log.updateCurrentSection(false);
    KyroDelimitedFile::PairList record = {{"Reason", "Fatal error"},
                                          {"ComputerName", "demo-host"}};
    log.write(record);
    log.write("File", "kyro_demo.cpp");
    log.write("Line", 42);
    log.close();

    log.updateCurrentSection(true);
    KyroDelimitedFile::ItemList items = {"Kyro", TStr("%1 of %2 records written").arg(3).arg(4)};
    log.writeDebugLog(items, "\t");
    KyroDelimitedFile::ItemList perf = {"Kyro", "KYROINITIALIZE.START", "NA", "NA"};
    log.writeDebugLog(perf, ",");
    log.close();

    // The library writes paths with "\"; the runtime accepts "/" on every platform.
    TStr readable(logPath);
    readable.replaceAll("\\", "/");
    std::printf("kyro-demo wrote %s:\n", readable.utf8());
    std::FILE* file = std::fopen(readable.utf8(), "r");
    if (file == nullptr) {
        std::fprintf(stderr, "kyro-demo: cannot read %s\n", logPath.utf8());
        return 1;
    }
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        std::fwrite(chunk, 1, n, stdout);
    std::fclose(file);
    return 0;
}
