#include "board/scenario.h"

#include "scenariowords.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool isDelay(const std::string &value)
{
    if (value.empty() || value.size() > 7)
        return false;
    for (char c : value) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

Scenario::Scenario()
{
    for (const ScenarioKey &k : scenarioKeys())
        m_values[k.key] = k.start;
}

bool Scenario::set(const std::string &key, const std::string &value, std::string *error)
{
    const ScenarioKey *known = findScenarioKey(key);
    if (!known) {
        *error = "unknown scenario key '" + key + "'";
        return false;
    }
    const bool valid = known->words.empty()
                           ? isDelay(value)
                           : std::any_of(known->words.begin(), known->words.end(),
                                         [&value](const char *word) { return value == word; });
    if (!valid) {
        *error = "invalid value '" + value + "' for " + key;
        return false;
    }
    // The flash tool missing from PATH is one state under both keys: either
    // key set to "missing" takes the tool away, and any other flash answer
    // needs the tool back (a tool brought back by tool.flash answers as a
    // good chip does).
    if (key == "flash" || key == "tool.flash") {
        const std::string other = key == "flash" ? "tool.flash" : "flash";
        if (value == "missing")
            m_values[other] = "missing";
        else if (m_values[other] == "missing")
            m_values[other] = key == "flash" ? "ok" : "good";
    }
    m_values[key] = value;
    return true;
}

bool Scenario::setAssignment(const std::string &keyEqualsValue, std::string *error)
{
    size_t eq = keyEqualsValue.find('=');
    if (eq == std::string::npos) {
        *error = "expected KEY=VALUE, got '" + keyEqualsValue + "'";
        return false;
    }
    return set(keyEqualsValue.substr(0, eq), keyEqualsValue.substr(eq + 1), error);
}

std::string Scenario::get(const std::string &key) const
{
    auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

int Scenario::getInt(const std::string &key) const
{
    return std::atoi(get(key).c_str());
}

std::string Scenario::describe() const
{
    std::string out;
    for (const auto &kv : m_values)
        out += (out.empty() ? "" : " ") + kv.first + "=" + kv.second;
    return out;
}
