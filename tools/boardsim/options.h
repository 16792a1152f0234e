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
    bool noGpio = false;
    bool noGpioExport = false;
    std::vector<int> refusedExports;
    bool noEvdev = false;
    bool evdevIoctlFails = false;
    bool compat32Evdev = false;
    int initialPosition = 0;
    bool noRunMedia = false;
    bool noPidfd = false;
    std::vector<std::string> assignments; // --set KEY=VALUE, checked by Scenario
    std::string transcriptFile;
    std::vector<std::string> command;
};
