#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

// When a folder that changed is listed again. A few changes are listed once the folder has been
// quiet for kQuiet, and no later than kLongest after the first of them, so that a folder that
// never rests still shows its changes. From kBurst changes not yet listed on (thousands of files
// copied in), listing a folder that is still filling would show little and compete with the
// copy for the disk: the listing waits for kBurstQuiet of rest, or kBurstLongest, and the whole
// burst is one listing.
class RelistSchedule {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kQuiet{400};
    static constexpr std::chrono::milliseconds kLongest{1500};
    static constexpr int kBurst = 100;
    static constexpr std::chrono::milliseconds kBurstQuiet{1000};
    static constexpr std::chrono::milliseconds kBurstLongest{30000};

    void changed(Clock::time_point at) {
        if (!firstChange) {
            firstChange = at;
            changes = 0;
        }
        lastChange = at;
        ++changes;
    }
    // When to list; nullopt while nothing changed since the last listing began.
    std::optional<Clock::time_point> due() const {
        if (!firstChange) return std::nullopt;
        if (changes >= kBurst)
            return std::min(lastChange + kBurstQuiet, *firstChange + kBurstLongest);
        return std::min(lastChange + kQuiet, *firstChange + kLongest);
    }
    // A listing begins: it may miss what changes from now on, which asks for another.
    void listingBegins() { firstChange.reset(); }

private:
    std::optional<Clock::time_point> firstChange;
    Clock::time_point lastChange{};
    int changes = 0;  // since firstChange
};
