#pragma once

#include <chrono>

// When a stream or device that should be asking for sound has stalled. One that runs asks
// steadily; a new one may wait on a server that has just started or thawed for a few seconds
// before it does. A check that comes late counts as progress: the checker itself was held (a
// starved machine, our own process stopped and continued), not the server.
class StallRule {
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::chrono::milliseconds steady;  // once it has asked steadily
        std::chrono::milliseconds start;   // before that
        std::chrono::milliseconds period;  // between two checks
    };

    explicit StallRule(Limits limits) : limits(limits) {}

    // A new stream or device.
    void restart(Clock::time_point now) {
        progressAt = checkedAt = now;
        steady = false;
    }
    // It asked for sound (or played); `nowSteady` once it has done so a few times.
    void progressed(Clock::time_point now, bool nowSteady) {
        progressAt = now;
        steady = steady || nowSteady;
    }
    // At each check: true when it was `expected` to ask and has not for its limit.
    bool stalled(Clock::time_point now, bool expected) {
        if (now - checkedAt > 2 * limits.period || !expected) progressAt = now;
        checkedAt = now;
        return now - progressAt >= (steady ? limits.steady : limits.start);
    }

private:
    Limits limits;
    Clock::time_point progressAt{};
    Clock::time_point checkedAt{};
    bool steady = false;
};
