#pragma once

#include <string>

struct SimulatedBoard;

// The "state" command's answer: the whole board as one JSON object.
std::string stateJson(const SimulatedBoard &board);
