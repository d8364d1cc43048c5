#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Holds the loudness measurer's threads inside a decode step, as a disk that does not answer
// holds a read, until released: the first file to get there, every file, or those whose path
// holds `only`. Its hook keeps the gate's state alive for threads that outlive the test.
class MeasureGate {
public:
    enum class Holds { FirstFile, EveryFile };

    explicit MeasureGate(Holds holds = Holds::FirstFile, std::string only = "")
        : state(std::make_shared<State>()) {
        state->holds = holds;
        state->only = std::move(only);
    }
    ~MeasureGate() { release(); }
    MeasureGate(const MeasureGate&) = delete;
    MeasureGate& operator=(const MeasureGate&) = delete;

    std::function<void(const std::string&, std::int64_t)> hook() const {
        return [state = state](const std::string& path, std::int64_t) {
            std::unique_lock guard(state->lock);
            ++state->steps;
            if (!state->only.empty() && path.find(state->only) == std::string::npos) return;
            if (state->holds == Holds::FirstFile && !state->first.empty() && path != state->first)
                return;
            if (state->open) return;
            if (state->first.empty()) state->first = path;
            ++state->held;
            state->mostHeld = std::max(state->mostHeld, state->held);
            state->changed.notify_all();
            state->changed.wait(guard, [&] { return state->open; });
            --state->held;
        };
    }
    // Waits (generously) until `count` threads are held at once; the first path held.
    std::string waitUntilHeld(int count = 1) {
        std::unique_lock guard(state->lock);
        state->changed.wait_for(guard, std::chrono::seconds(120),
                                [&] { return state->held >= count; });
        return state->first;
    }
    void release() {
        std::lock_guard guard(state->lock);
        state->open = true;
        state->changed.notify_all();
    }
    int mostHeldAtOnce() const {
        std::lock_guard guard(state->lock);
        return state->mostHeld;
    }
    int stepCount() const {
        std::lock_guard guard(state->lock);
        return state->steps;
    }

private:
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        Holds holds = Holds::FirstFile;
        std::string only;
        std::string first;  // the first path held
        bool open = false;
        int held = 0;
        int mostHeld = 0;
        int steps = 0;
    };
    std::shared_ptr<State> state;
};
