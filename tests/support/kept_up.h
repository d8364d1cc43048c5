#pragma once
// Tests that judge sound made in real time (SDL's disk driver, a real sound server) can only
// judge a run in which the machine kept up: a run with an underrun says nothing about the code
// under test, only about a busy machine, so it is made again, a few times at most.
#include <cstdint>

// `run` returns a result with a member `underruns`; the first result without one is returned,
// or the last one tried.
template <typename Run>
auto firstRunThatKeptUp(Run run, int tries = 3) {
    auto result = run();
    for (int i = 1; i < tries && result.underruns != 0; ++i) result = run();
    return result;
}
