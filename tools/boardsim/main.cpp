// boardsim: runs a command on a simulated board (see Options::usage()).

#include "options.h"
#include "simulator.h"

#include <cstdio>

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!options.parse(argc, argv, &error)) {
        std::fprintf(stderr, "boardsim: %s\n%s", error.c_str(), Options::usage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(Options::usage().c_str(), stdout);
        return 0;
    }
    Simulator simulator(options);
    return simulator.run();
}
