#pragma once

#include <chrono>
#include <deque>

class ControlServer;
class EvdevFs;

// Turns the encoder as the control socket asks, a slice of time per
// iteration of the loop, so that a long turn never holds up the board: the
// other requests and the product's own file operations are answered in
// between. Turns run in the order they were asked for, each answered "ok"
// once its last detent has reached the node.
class TurnScheduler
{
public:
    using Clock = std::chrono::steady_clock;

    // A turn takes at most this many steps, a slice of them per iteration.
    static constexpr int maxTurnSteps = 1000000;
    static constexpr std::chrono::milliseconds sliceTime{2};
    static constexpr int stepsPerCheck = 64; // between looks at the clock

    TurnScheduler(EvdevFs &evdev, ControlServer &server) : m_evdev(evdev), m_server(server) {}

    // Queues `steps` detents (negative: the other way) for `client`.
    void add(int client, int steps);
    // Turns one more slice of the queued turns.
    void serve();
    bool busy() const { return !m_turns.empty(); }

private:
    struct PendingTurn
    {
        int client;
        int steps; // still to go, signed
    };

    EvdevFs &m_evdev;
    ControlServer &m_server;
    std::deque<PendingTurn> m_turns;
};
