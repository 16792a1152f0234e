#include "toolbox.h"

#include "scenario.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

const char *const ToolBox::toolNames[3] = {"usbswitch", "iocboot", "flash"};

ToolBox::ToolBox(const std::string &binDir, const std::string &toolExecutable)
    : m_binDir(binDir), m_toolExecutable(toolExecutable)
{}

bool ToolBox::create(std::string *error)
{
    if (access(m_toolExecutable.c_str(), X_OK) != 0) {
        *error = "cannot find boardsim-tool at " + m_toolExecutable + ": " + std::strerror(errno);
        return false;
    }
    if (mkdir(m_binDir.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = "cannot create " + m_binDir + ": " + std::strerror(errno);
        return false;
    }
    // Scripts run on the board reach the control socket through boardsim-ctl.
    std::string ctl =
        m_toolExecutable.substr(0, m_toolExecutable.find_last_of('/') + 1) + "boardsim-ctl";
    if (access(ctl.c_str(), X_OK) == 0)
        symlink(ctl.c_str(), (m_binDir + "/boardsim-ctl").c_str());
    return true;
}

void ToolBox::update(const Scenario &scenario)
{
    for (const char *name : toolNames) {
        std::string link = m_binDir + "/" + name;
        bool wanted = scenario.get(std::string("tool.") + name) != "missing";
        struct stat st;
        bool there = lstat(link.c_str(), &st) == 0;
        if (wanted && !there)
            symlink(m_toolExecutable.c_str(), link.c_str());
        else if (!wanted && there)
            unlink(link.c_str());
    }
}
