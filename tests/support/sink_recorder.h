#pragma once

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Records the private PulseAudio's null sink (its monitor, "velmor_null.monitor") with parec,
// as interleaved stereo float samples at 48 kHz. Needs PULSE_SERVER (set by the test script).
class SinkRecorder {
public:
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;

    // Starts parec and returns once the first samples have arrived; throws if it cannot.
    explicit SinkRecorder(const std::string& source = "velmor_null.monitor");
    ~SinkRecorder();
    SinkRecorder(const SinkRecorder&) = delete;
    SinkRecorder& operator=(const SinkRecorder&) = delete;

    // Frames recorded so far.
    std::size_t frames() const;
    // A copy of what has been recorded so far.
    std::vector<float> samples() const;
    // Ends the recording and returns all of it.
    std::vector<float> stop();

    // True when the test script's private PulseAudio is there.
    static bool available();

private:
    void readLoop();

    pid_t child = -1;
    int pipeFd = -1;
    std::thread reader;
    mutable std::mutex mutex;
    std::vector<float> recorded;
    bool stopped = false;
};
