#pragma once

#include <string>
#include <vector>

// The scenario vocabulary of the simulated board, in one place: boardsim
// checks --set and the control socket's `set` against it and lists it in its
// usage, and the panel makes a switch of each word.
struct ScenarioKey
{
    const char *key;
    std::vector<const char *> words; // none: the value is a number of milliseconds
    const char *start;               // the value boardsim starts with
};

// Every key, in the order the usage lists them.
const std::vector<ScenarioKey> &scenarioKeys();
// The key named `key`, nullptr when there is none.
const ScenarioKey *findScenarioKey(const std::string &key);
// "ioc=present|absent|..., ioc-delay-ms=N, ..." with keys that take the same
// words joined ("tool.usbswitch|tool.iocboot=ok|...").
std::string scenarioUsage();
