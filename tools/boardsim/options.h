#pragma once

#include <string>
#include <vector>

// A whole decimal number from `low` to `high`; false for anything else.
bool parseInt(const std::string &text, long low, long high, long *value);

// boardsim's command line: [options] -- COMMAND [ARG...]
class Options
{
public:
    // Returns false with a message for the user (usage errors exit with 2).
    bool parse(int argc, char **argv, std::string *error);
    static std::string usage();

    bool help = false;
    // The switches are ints: getopt_long sets them through its flag pointers.
    int noGpio = 0;
    int noGpioExport = 0;
    std::vector<int> refusedExports;
    int noEvdev = 0;
    int evdevIoctlFails = 0;
    int compat32Evdev = 0;
    int initialPosition = 0;
    int noRunMedia = 0;
    int noPidfd = 0;
    std::vector<std::string> assignments; // --set KEY=VALUE, checked by Scenario
    std::string transcriptFile;
    std::vector<std::string> command;
};
