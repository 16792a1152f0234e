#include "scenariowords.h"

#include <algorithm>

namespace {

const std::vector<const char *> toolWords = {"ok", "slow", "hang", "missing", "fail"};

const std::vector<ScenarioKey> keys = {
    // Where the IOC's disk shows up once it is on USB, if at all.
    {"ioc", {"present", "absent", "late", "upper", "second"}, "present"},
    {"ioc-delay-ms", {}, "1000"},
    // What `flash -o rdid` prints.
    {"flash",
     {"good", "case", "banner", "empty", "pieces", "silent", "missing", "chatter"},
     "good"},
    {"tool.usbswitch", toolWords, "ok"},
    {"tool.iocboot", toolWords, "ok"},
    {"tool.flash", toolWords, "ok"},
    // How long a slow tool takes.
    {"tool-delay-ms", {}, "3000"},
};

std::string wordsText(const ScenarioKey &key)
{
    if (key.words.empty())
        return "N";
    std::string text;
    for (const char *word : key.words)
        text += std::string(text.empty() ? "" : "|") + word;
    return text;
}

} // namespace

const std::vector<ScenarioKey> &scenarioKeys()
{
    return keys;
}

const ScenarioKey *findScenarioKey(const std::string &key)
{
    const auto it = std::find_if(keys.begin(), keys.end(),
                                 [&key](const ScenarioKey &k) { return key == k.key; });
    return it == keys.end() ? nullptr : &*it;
}

std::string scenarioUsage()
{
    std::string usage;
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::string words = wordsText(keys[i]);
        usage += keys[i].key;
        if (i + 1 < keys.size() && !keys[i].words.empty() && keys[i + 1].words == keys[i].words) {
            usage += "|";
            continue;
        }
        usage += "=" + words + (i + 1 < keys.size() ? ", " : "");
    }
    return usage;
}
