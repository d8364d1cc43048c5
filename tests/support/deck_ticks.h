#pragma once

#include <chrono>
#include <thread>

#include "components/deck.h"

// The window's 10 ms tick on one deck, for `span`.
inline void tickFor(Deck& deck, std::chrono::milliseconds span) {
    using namespace std::chrono_literals;
    for (const auto end = std::chrono::steady_clock::now() + span;
         std::chrono::steady_clock::now() < end;) {
        deck.followOutput();
        std::this_thread::sleep_for(10ms);
    }
}
