#pragma once

#include "board/scenario.h"
#include "board/toolbox.h"
#include "board/usbmedia.h"
#include "control/controldispatch.h"
#include "control/controlserver.h"
#include "control/transcript.h"
#include "evdev/evdevfs.h"
#include "gpio/gpiofs.h"
#include "options.h"
#include "sandbox/commandsupervisor.h"
#include "sandbox/grabrelay.h"
#include "sandbox/namespacesetup.h"

#include <memory>
#include <optional>
#include <string>

// Sets up the simulated board in a private namespace, runs the command on it
// and serves the file systems and the control socket from one poll loop
// until the command ends.
class Simulator
{
public:
    // Exit status when this machine cannot host the simulation (CTest: skipped).
    static constexpr int cannotRun = 77;
    // Exit status when --transcript FILE could not be written (EX_IOERR).
    static constexpr int transcriptFailed = 74;

    explicit Simulator(const Options &options);

    int run();

private:
    bool setUp(std::string *error);
    bool mountGpio(std::string *error);
    bool mountEvdev(std::string *error);
    bool startCommand(std::string *error);
    void loop();
    void tearDown();
    int pollTimeoutMs() const;

    const Options &m_options;
    Transcript m_transcript;
    Scenario m_scenario;
    NamespaceSetup m_namespace;
    GpioFs m_gpio;
    EvdevFs m_evdev;
    ControlServer m_control;
    CommandSupervisor m_command;
    GrabRelay m_grab;
    std::unique_ptr<ToolBox> m_tools;
    std::unique_ptr<UsbMedia> m_media;
    std::unique_ptr<ControlDispatch> m_dispatch;
    // Set when the board stopped on its own account, not the command's.
    std::optional<int> m_stopStatus;
};
