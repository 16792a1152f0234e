#pragma once

#include "controlserver.h"
#include "evdevfs.h"
#include "gpiofs.h"
#include "namespacesetup.h"
#include "options.h"
#include "scenario.h"
#include "toolbox.h"
#include "transcript.h"
#include "usbmedia.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

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
    ~Simulator();

    int run();

private:
    struct TranscriptWait
    {
        int client;
        size_t knownCount;
        std::chrono::steady_clock::time_point deadline;
    };

    bool setUp(std::string *error);
    bool startCommand(std::string *error);
    void loop();
    void handleSignals();
    void reapChildren();
    void killOrphans();
    void tearDown();
    void answerWaits(bool all);
    int pollTimeoutMs() const;

    bool handleRequest(int client, const std::string &line, std::string *reply);
    std::string handleTool(const std::vector<std::string> &words, bool act);
    std::string gpioText(int line) const;
    std::string stateJson() const;
    std::string transcriptReply(size_t from) const;

    const Options &m_options;
    Transcript m_transcript;
    Scenario m_scenario;
    NamespaceSetup m_namespace;
    GpioFs m_gpio;
    EvdevFs m_evdev;
    ControlServer m_control;
    std::unique_ptr<ToolBox> m_tools;
    std::unique_ptr<UsbMedia> m_media;
    std::vector<TranscriptWait> m_waits;
    int m_signalFd = -1;
    pid_t m_child = -1;
    bool m_childDone = false;
    int m_exitStatus = 0;
};
