#include "engine/output/pulse/remembered_sinks.h"

#include <algorithm>
#include <utility>

void RememberedSinks::remember(const OutputDevice& device) {
    forget(device.name);
    devices.push_back(device);
    trim();
}

void RememberedSinks::forget(const std::string& name) {
    std::erase_if(devices, [&](const OutputDevice& device) { return device.name == name; });
}

void RememberedSinks::choose(std::vector<std::string> names) {
    chosenNames = std::move(names);
    trim();
}

const std::string* RememberedSinks::describe(const std::string& name) const {
    for (const OutputDevice& device : devices)
        if (device.name == name) return &device.description;
    return nullptr;
}

bool RememberedSinks::chosen(const std::string& name) const {
    return std::find(chosenNames.begin(), chosenNames.end(), name) != chosenNames.end();
}

void RememberedSinks::trim() {
    std::size_t others = static_cast<std::size_t>(std::count_if(
        devices.begin(), devices.end(), [&](const OutputDevice& d) { return !chosen(d.name); }));
    for (auto it = devices.begin(); others > kOthers && it != devices.end();) {
        if (chosen(it->name)) {
            ++it;
            continue;
        }
        it = devices.erase(it);  // the oldest of the others first
        --others;
    }
}
