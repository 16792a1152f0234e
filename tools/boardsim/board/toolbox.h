#pragma once

#include <string>

class Scenario;

// The directory of fake board tools put first on the command's PATH: one
// link to boardsim-tool per tool, which plays the tool its name says. A
// "missing" tool is simply not there, so the product's exec fails as on a
// board without it.
class ToolBox
{
public:
    static const char *const toolNames[3];

    // boardsim-tool beside boardsim in the build tree, else where the package
    // installs it: a private directory, as it is no command of its own.
    static std::string toolExecutable();

    ToolBox(const std::string &binDir, const std::string &toolExecutable);
    bool create(std::string *error);
    // Adds or removes the links to follow the tool.* scenario keys.
    void update(const Scenario &scenario);
    const std::string &binDir() const { return m_binDir; }

private:
    std::string m_binDir;
    std::string m_toolExecutable;
};
