#pragma once

#include <chrono>
#include <thread>

// Polls `condition` until it holds or `timeout` passes; whether it came to hold.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
