// kyro-perf: the timed operations of a performance log (KyroPerfLog.csv) as a table, and
// optionally as an SVG timeline. See PerfReport.h.
#include "PerfReport.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return kyro::perf::runCommand(args, std::cout, std::cerr);
}
