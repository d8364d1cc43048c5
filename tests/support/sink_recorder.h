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

// Records the private PulseAudio's null sink (its monitor, "velmor_null.monitor") with parec,
// as interleaved stereo float samples at 48 kHz (or the rate asked for), and notes when each
// piece of the recording arrived, so that the moment a frame reached the sink can be told to
// within a few milliseconds. Needs PULSE_SERVER (set by the test script). The benchmarks use it
// too.
class SinkRecorder {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;

    // parec's piece size where none is asked for: 10 ms; on PipeWire 40 ms. PipeWire runs its
    // whole graph in the smallest step any client asks for, and at 10 ms (256 frames) a
    // two-core machine misses a step's deadline now and then: the sink then plays 256 frames
    // of silence, heard as a hole in every recording, whatever the player wrote.
    static int defaultLatencyMs();

    // Starts parec and returns once the first samples have arrived; throws if it cannot.
    // `latencyMs`: parec's piece size; small pieces arrive soon after the sink rendered them.
    explicit SinkRecorder(const std::string& source = "velmor_null.monitor",
                          int latencyMs = defaultLatencyMs(), int rate = kRate);
    ~SinkRecorder();
    SinkRecorder(const SinkRecorder&) = delete;
    SinkRecorder& operator=(const SinkRecorder&) = delete;

    // Frames recorded so far.
    std::size_t frames() const;
    // A copy of what has been recorded so far.
    std::vector<float> samples() const;
    // Ends the recording and returns all of it.
    std::vector<float> stop();
    // When frame `index` (arrived already) reached the sink: its piece's arrival less the
    // frames after it. The pipe's delay makes this err late, never early.
    Clock::time_point timeOf(std::size_t index) const;
    // The first frame from `from` on in which either channel reaches `threshold`, once it has
    // arrived.
    std::optional<std::size_t> firstAbove(std::size_t from, float threshold) const;
    // The first frame from `from` on that begins `span` frames below `threshold`, once they
    // have arrived: where the sound stopped.
    std::optional<std::size_t> firstQuiet(std::size_t from, float threshold,
                                          std::size_t span) const;

    // True when the test script's private PulseAudio is there.
    static bool available();

private:
    void readLoop();

    int rate = kRate;
    pid_t child = -1;
    int pipeFd = -1;
    std::thread reader;
    mutable std::mutex mutex;
    std::vector<float> recorded;
    std::vector<std::pair<std::size_t, Clock::time_point>> arrivals;  // frames so far, when
    bool stopped = false;
};
