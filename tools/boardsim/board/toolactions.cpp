#include "board/toolactions.h"

#include "board/scenario.h"
#include "board/usbmedia.h"
#include "boardtools.h"
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
    auto is = [&name, &args](const board::ToolCommand &command) {
        return name == command.program && args == board::arguments(command);
    };
    if (is(board::UsbSwitchIn) || is(board::UsbSwitchBack)) {
        m_media.setSwitched(is(board::UsbSwitchIn));
        return {Answer::Done, std::nullopt};
    }
    if (is(board::IocBootIn) || is(board::IocBootBack)) {
        m_media.setBooted(is(board::IocBootIn));
        return {Answer::Done, std::nullopt};
    }
    if (is(board::FlashRead))
        return {Answer::Done, m_scenario.get("flash")};
    return {Answer::Usage, std::nullopt};
}
