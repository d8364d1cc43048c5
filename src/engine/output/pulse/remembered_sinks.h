#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "components/deck.h"

// The descriptions of sinks that are not there now, for the words of a deck that waits for one:
// those a deck chose, as long as it does, and of the others only the newest few, so that a
// desktop whose devices come and go (headsets, docks, screens) never grows the list without end.
// Not thread-safe: its owner serialises the calls.
class RememberedSinks {
public:
    static constexpr std::size_t kOthers = 8;

    // The sink is gone (or the server is): its description is kept, the newest.
    void remember(const OutputDevice& device);
    // The sink is there again, and describes itself.
    void forget(const std::string& name);
    // The sinks the decks chose now: kept whatever else comes and goes.
    void choose(std::vector<std::string> names);
    // The description kept for `name`; nullptr when none is.
    const std::string* describe(const std::string& name) const;
    std::size_t size() const { return devices.size(); }

private:
    bool chosen(const std::string& name) const;
    void trim();

    std::vector<OutputDevice> devices;  // oldest first
    std::vector<std::string> chosenNames;
};
