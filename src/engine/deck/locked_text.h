#pragma once

#include <mutex>
#include <string>
#include <utility>

// A text that one thread sets and others read whole. Not for the audio callback, which must
// never lock.
class LockedText {
public:
    void set(std::string text) {
        std::lock_guard lock(mutex);
        value = std::move(text);
    }
    std::string get() const {
        std::lock_guard lock(mutex);
        return value;
    }

private:
    mutable std::mutex mutex;
    std::string value;
};
