#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// The steady clock in nanoseconds: the time base of PlayClock's readings.
inline std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the audio callback last handed to the device and when, so that other threads can tell
// the position between two callbacks. One writer (the callback); a sequence number lets a
// reader take all three values from the same callback without a lock.
class PlayClock {
public:
    struct Reading {
        std::uint64_t playedMark = 0;    // (epoch, ring index after the buffer): DeckStream::mark
        std::uint32_t frames = 0;        // frames of this deck in that buffer
        std::int64_t atNanoseconds = 0;  // steady clock at the callback; 0: no device clock

        // Frames sounded at `rate` from the reading's moment to `now` (steady ns).
        double framesUntil(std::int64_t now, int rate) const {
            return static_cast<double>(now - atNanoseconds) * 1e-9 * rate;
        }
    };

    // The output's side only (one writer at a time; see AudioSource::mixInto): never blocks.
    void record(const Reading& reading) noexcept {
        const std::uint32_t serial = sequence.load(std::memory_order_relaxed);
        sequence.store(serial + 1, std::memory_order_relaxed);  // odd: being written
        std::atomic_thread_fence(std::memory_order_release);
        playedMark.store(reading.playedMark, std::memory_order_relaxed);
        frames.store(reading.frames, std::memory_order_relaxed);
        atNanoseconds.store(reading.atNanoseconds, std::memory_order_relaxed);
        sequence.store(serial + 2, std::memory_order_release);
    }

    // Any other thread. Retries while the callback writes, which takes nanoseconds.
    Reading read() const noexcept {
        for (;;) {
            const std::uint32_t before = sequence.load(std::memory_order_acquire);
            Reading reading{playedMark.load(std::memory_order_relaxed),
                            frames.load(std::memory_order_relaxed),
                            atNanoseconds.load(std::memory_order_relaxed)};
            std::atomic_thread_fence(std::memory_order_acquire);
            if ((before & 1) == 0 && sequence.load(std::memory_order_relaxed) == before)
                return reading;
        }
    }

private:
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<std::uint64_t> playedMark{0};
    std::atomic<std::uint32_t> frames{0};
    std::atomic<std::int64_t> atNanoseconds{0};
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
};
