#pragma once

#include <map>
#include <string>

// The behaviour of the IOC, the flash chip and the board tools, as KEY=VALUE
// pairs (the same from --set and from the control socket). Values are checked
// here so that a typo in a test fails loudly instead of running the default.
class Scenario
{
public:
    Scenario();

    // Returns false and the reason when the key or value is unknown.
    bool set(const std::string &key, const std::string &value, std::string *error);
    bool setAssignment(const std::string &keyEqualsValue, std::string *error);
    std::string get(const std::string &key) const;
    int getInt(const std::string &key) const;
    // "key=value key=value ..." in key order.
    std::string describe() const;
    const std::map<std::string, std::string> &values() const { return m_values; }

private:
    std::map<std::string, std::string> m_values;
};
