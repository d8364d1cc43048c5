#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "components/stereo_frame.h"

class AudioSource;
class ErrorSink;

// The one SDL audio device of the player; its callback mixes every registered source. The
// device opens on the first ensureOpen() (the first play) and is opened again on a later call
// after a failure or after it was lost. All calls but render() come from the UI thread.
class AudioOutput {
public:
    struct Options {
        int rate = 48000;
        // 1024 frames at 48 kHz is 21.3 ms. Measured against a PulseAudio null sink: play to
        // sound and pause to silence about 30-40 ms, and the server works about half as hard
        // as for 512; 2048 takes both latencies past 50 ms.
        int bufferFrames = 1024;
        // false: no SDL device at all; the owner calls render() (tests that need exact
        // samples without real-time pacing).
        bool useDevice = true;
    };

    explicit AudioOutput(ErrorSink& errors);
    AudioOutput(ErrorSink& errors, Options options);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    int rate() const { return options.rate; }
    // Opens the device if it is not open; reports "No sound output: <cause>" once per failed
    // attempt. True when a device is playing (always true without a device).
    bool ensureOpen();
    bool isOpen() const;

    // At most kMaxSources at once. removeSource() returns once no callback uses the source.
    void addSource(AudioSource* source);
    void removeSource(AudioSource* source);

    // What the callback does, without a device clock: silence, plus every source mixed in,
    // clipped to [-1, 1].
    void render(StereoFrame* out, int frames) noexcept;

    static constexpr int kMaxSources = 4;

private:
    struct Device;
    static void callback(void* userdata, unsigned char* stream, int length);
    void mix(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept;
    void retire(std::unique_ptr<Device> device);
    void reapClosers(bool wait);

    ErrorSink& errors;
    const Options options;
    std::array<std::atomic<AudioSource*>, kMaxSources> sources{};
    // Callbacks (or render calls) under way; removeSource() waits for it to reach 0.
    std::atomic<int> activeCallbacks{0};
    static_assert(std::atomic<AudioSource*>::is_always_lock_free);
    static_assert(std::atomic<int>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);
    bool sdlStarted = false;
    std::unique_ptr<Device> device;
    struct Closer {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    // Lost devices are closed on threads of their own: SDL_CloseAudioDevice can block for
    // seconds, and the UI must not wait for that.
    std::vector<Closer> closers;
};
