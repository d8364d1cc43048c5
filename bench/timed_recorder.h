#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Records the private sound server's null sink with parec (mono, 48 kHz) and notes when each
// piece of the recording arrived, so that the moment a frame reached the sink can be told to
// within a few milliseconds.
class TimedRecorder {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kRate = 48000;

    // Starts parec and returns once the first frames have arrived; throws if it cannot.
    explicit TimedRecorder(const std::string& source = "velmor_null.monitor");
    ~TimedRecorder();
    TimedRecorder(const TimedRecorder&) = delete;
    TimedRecorder& operator=(const TimedRecorder&) = delete;

    std::size_t frames() const;
    std::vector<float> samples() const;
    // When frame `index` (arrived already) reached the sink: its piece's arrival less the
    // frames after it. The pipe's delay makes this err late, never early.
    Clock::time_point timeOf(std::size_t index) const;
    // The first frame from `from` on whose magnitude reaches `threshold`, once it has arrived.
    std::optional<std::size_t> firstAbove(std::size_t from, float threshold) const;

private:
    void readLoop();

    pid_t child = -1;
    int pipeFd = -1;
    std::thread reader;
    mutable std::mutex mutex;
    std::vector<float> recorded;
    std::vector<std::pair<std::size_t, Clock::time_point>> arrivals;  // frames so far, when
};
