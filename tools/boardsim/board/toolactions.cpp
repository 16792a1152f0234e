#include "board/toolactions.h"

#include "board/scenario.h"
#include "board/usbmedia.h"
#include "control/transcript.h"

bool ToolActions::known(const std::string &name) const
{
    return !m_scenario.get("tool." + name).empty();
}

ToolActions::Answer ToolActions::exec(int pid, const std::string &name,
                                      const std::vector<std::string> &args)
{
    if (!known(name))
        return {Answer::UnknownTool, std::nullopt};
    Transcript::Entry e(pid, "exec", name);
    e.hasArgs = true;
    e.args = args;
    e.hasResult = false;
    m_transcript.add(e);
    return {Answer::Done, m_scenario.get("tool." + name) + " " + m_scenario.get("tool-delay-ms")};
}

ToolActions::Answer ToolActions::act(const std::string &name, const std::vector<std::string> &args)
{
    if (!known(name))
        return {Answer::UnknownTool, std::nullopt};
    auto is = [&args](const char *arg) {
        return args.size() == 1 && args[0] == arg;
    };
    if (name == "usbswitch" && (is("-i") || is("-f"))) {
        m_media.setSwitched(is("-i"));
        return {Answer::Done, std::nullopt};
    }
    if (name == "iocboot" && (is("-i") || is("-f"))) {
        m_media.setBooted(is("-i"));
        return {Answer::Done, std::nullopt};
    }
    if (name == "flash" && args.size() == 2 && args[0] == "-o" && args[1] == "rdid")
        return {Answer::Done, m_scenario.get("flash")};
    return {Answer::Usage, std::nullopt};
}
