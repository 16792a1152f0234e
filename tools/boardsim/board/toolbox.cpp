#include "board/toolbox.h"

#include "board/scenario.h"
#include "boardtools.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

const char *const ToolBox::toolNames[3] = {board::UsbSwitch, board::IocBoot, board::Flash};

namespace {

// The directory of the running boardsim, with a trailing slash.
std::string ownDirectory()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return std::string();
    self[n] = '\0';
    std::string path = self;
    return path.substr(0, path.find_last_of('/') + 1);
}

} // namespace

std::string ToolBox::toolExecutable()
{
    const std::string dir = ownDirectory();
    if (dir.empty())
        return "boardsim-tool";
    std::string beside = dir + "boardsim-tool";
    if (access(beside.c_str(), X_OK) == 0)
        return beside;
    return dir + BOARDSIM_INSTALLED_TOOL_DIR "/boardsim-tool";
}

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
    // Scripts run on the board reach the control socket through boardsim-ctl,
    // which lies beside boardsim both in the build tree and installed.
    std::string ctl = ownDirectory() + "boardsim-ctl";
    const std::string link = m_binDir + "/boardsim-ctl";
    if (access(ctl.c_str(), X_OK) == 0 && symlink(ctl.c_str(), link.c_str()) != 0 &&
        errno != EEXIST) {
        *error = "cannot link " + link + ": " + std::strerror(errno);
        return false;
    }
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
