#include "gpiolines.h"

namespace {

std::string linePath(const std::string &line, const char *attribute)
{
    return std::string(board::GpioDir) + "/gpio" + line + "/" + attribute;
}

} // namespace

std::string board::gpioDirectionPath(const std::string &line)
{
    return linePath(line, "direction");
}

std::string board::gpioValuePath(const std::string &line)
{
    return linePath(line, "value");
}

std::string board::gpioDirectionPath(int line)
{
    return gpioDirectionPath(std::to_string(line));
}

std::string board::gpioValuePath(int line)
{
    return gpioValuePath(std::to_string(line));
}
