#pragma once

#include <optional>
#include <string>
#include <vector>

class Scenario;
class Transcript;
class UsbMedia;

// What each fake board tool does. A tool asks first how to behave (exec),
// which the scenario decides, and when it gets to do its work (act) the
// board changes as the real tool would change it.
class ToolActions
{
public:
    struct Answer
    {
        enum Kind
        {
            Done,
            UnknownTool, // the scenario has no such tool
            Usage,       // arguments the real tool would refuse
        };
        Kind kind = Done;
        std::optional<std::string> payload; // what the tool is told, for Done
    };

    ToolActions(Scenario &scenario, UsbMedia &media, Transcript &transcript)
        : m_scenario(scenario), m_media(media), m_transcript(transcript)
    {}

    // The mode the tool is to play and its delay, "MODE DELAY_MS"; the call
    // goes to the transcript as the product made it.
    Answer exec(int pid, const std::string &name, const std::vector<std::string> &args);
    // usbswitch -i|-f moves the USB medium, iocboot -i|-f boots the IOC into
    // or out of its loader, flash -o rdid reads the flash's id.
    Answer act(const std::string &name, const std::vector<std::string> &args);

private:
    bool known(const std::string &name) const;

    Scenario &m_scenario;
    UsbMedia &m_media;
    Transcript &m_transcript;
};
