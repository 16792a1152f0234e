#include "boardtools.h"

std::vector<std::string> board::arguments(const ToolCommand &command)
{
    std::vector<std::string> args;
    for (const char *arg : command.args) {
        if (arg)
            args.emplace_back(arg);
    }
    return args;
}

std::string board::commandLine(const ToolCommand &command)
{
    std::string line = command.program;
    for (const std::string &arg : arguments(command))
        line += " " + arg;
    return line;
}
