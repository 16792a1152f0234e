#pragma once

#include <string>
#include <vector>

namespace board {

// The facts that scripts need, as NAME=VALUE lines: the panel's keys in the key
// table's order, the lines by role, the flash identification. Both boards hand
// them out (the `facts` control command; the virtual board also as a file for
// its guest tools), so that no script spells them again.
std::vector<std::string> factLines();

} // namespace board
