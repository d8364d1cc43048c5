#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/loudness/measured_loudness.h"

// Measures the loudness of the files the decks ask for, on threads of its own at the lowest
// priority, answering from its cache where the file is unchanged since it was measured.
//
// Each deck has a lane of its own: the file it is about to play and the one after it. A deck's
// newer request replaces what it asked before and was not begun, and abandons a measure under
// way that it no longer wants; a file on a disk that does not answer holds its own thread only,
// never another deck's files nor the same deck's next one. Threads so stranded count with the
// process's StrandedThreads on their disk: a file on a disk that holds too many waits, unbegun,
// until one of the measurer's threads comes back or its deck asks again.
//
// Threads: the owner (the UI thread) makes and destroys it; request() may be called from any
// thread, the listener's included, and takes only the measurer's own lock, which its threads
// hold for lane changes alone, never while they read or decode: a caller never waits for a
// measure. The destructor waits for the steps under way (2 s at most, for a disk that hangs).
// The listener is called on a measuring thread, never the caller's, and never once the
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
        // While files are measured, the cache file is written at most this often: each write
        // rewrites and syncs the whole file. It is written once more when the measurer goes.
        std::chrono::milliseconds cacheWriteEvery = std::chrono::seconds(5);
        // Told on a measuring thread after each step of a decode (frames so far), until the
        // thread ends: a thread stranded by a hung disk may still call it after the destructor
        // returned, so it must hold what it touches. For tests that need to know where it is.
        std::function<void(const std::string& path, std::int64_t frames)> stepDone{};
        // Told once, on a measuring thread, when the cache file cannot be written or read (the
        // measures are then kept in memory only): a cause for the error list.
        std::function<void(const std::string& cause)> cacheTrouble{};
        // Asked on a measuring thread, nothing locked, before a file is measured: whether it
        // still wants its measure. It may read the file (tags) and hang with its disk, and be
        // called after the destructor returned, like stepDone. Absent: every file is measured;
        // a file it turns down is not reported.
        std::function<bool(const std::string& path)> worthMeasuring{};
    };

    LoudnessMeasurer(Listener listener, Options options);
    // Stops at once: files being measured are abandoned at their next step, unreported.
    ~LoudnessMeasurer();
    LoudnessMeasurer(const LoudnessMeasurer&) = delete;
    LoudnessMeasurer& operator=(const LoudnessMeasurer&) = delete;

    // Any thread; returns at once. `deck` asks for `path`: urgent for the file it is about to
    // play, else for the one after it. Each replaces the deck's earlier request of its kind
    // not yet begun; a path being measured for the deck is not measured twice.
    void request(const std::string& path, int deck, bool urgent);

    // Files whose decode began (not answered from the cache), abandoned ones included.
    std::uint64_t decodes() const;
    // Times the cache file was written or tried.
    std::uint64_t cacheWrites() const;

private:
    struct Shared;
    struct Job;
    static void run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared;
};
