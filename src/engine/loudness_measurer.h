#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/measured_loudness.h"

// Measures the loudness of the files it is asked for, one at a time, on a thread of its own
// at the lowest priority, answering from its cache where the file is unchanged since it was
// measured.
//
// Threads: the owner (the UI thread) makes and destroys it; request() may be called from any
// thread, the listener's included, and takes only the measurer's own lock, which its thread
// holds for queue changes alone, never while it reads or decodes: a caller never waits for a
// measure. The destructor waits for the step under way (2 s at most, for a disk that hangs).
// The listener is called on the measurer's thread, never the caller's, and never once the
// destructor has begun. Nothing here is shared with an audio callback.
class LoudnessMeasurer {
public:
    // The file's measure, or absent when it has none: it cannot be opened, fails to decode
    // part-way or was cut short (the deck's own play reports what went wrong). The listener
    // may call request(); it must not destroy the measurer.
    using Listener =
        std::function<void(const std::string& path, const std::optional<MeasuredLoudness>&)>;

    struct Options {
        std::string cacheFile{};  // "" keeps the measures in memory only
        std::size_t cacheCapacity = 10000;
        // Told on the measurer's thread after each step of a decode (frames so far), until the
        // thread ends: a thread stranded by a hung disk may still call it after the destructor
        // returned, so it must hold what it touches. For tests that need to know where it is.
        std::function<void(const std::string& path, std::int64_t frames)> stepDone{};
        // Told once, on the measurer's thread, when the cache file cannot be written (the
        // measures are then kept in memory only): a cause for the error list.
        std::function<void(const std::string& cause)> cacheTrouble{};
    };

    LoudnessMeasurer(Listener listener, Options options);
    // Stops at once: a file being measured is abandoned at its next step, unreported.
    ~LoudnessMeasurer();
    LoudnessMeasurer(const LoudnessMeasurer&) = delete;
    LoudnessMeasurer& operator=(const LoudnessMeasurer&) = delete;

    // Any thread. Queues `path`: urgent ones (a file about to play) to the front, the
    // others behind. A path already queued or being measured is not queued again (urgent moves
    // it to the front). Returns at once.
    void request(const std::string& path, bool urgent);

    // Files decoded so far (not answered from the cache).
    std::uint64_t decodes() const;

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared;
};
