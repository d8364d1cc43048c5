#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/deck/stereo_frame.h"
#include "engine/output/audio_output.h"
#include "engine/output/outage_report.h"

class AudioSource;
class ErrorSink;

// One SDL audio device for every source, mixed in its callback: the output where no sound server
// answers (bare ALSA), and for tests that need exact samples (SDL's disk driver, or render()).
//
// The device opens on the first ensureOpen() (the first play), on the calling thread, or on the
// keeper's with `openInBackground` (a sound server that hangs holds the keeper, not the UI). A
// device
// that fails to open, or is lost later (SDL disables it when the sound server goes away, or its
// callback stops coming, as a restarted PipeWire leaves it), is not the end of anything: the
// sources keep their places and states, and the output's keeper thread opens a device again
// in the background, once a second while a source is playing, until one plays; the sources
// then go on where they were. The loss is reported once, naming what was playing, and the
// return once. A device through which nothing has played for a while is closed by the keeper
// without a word, and opened again by the next ensureOpen().
//
// Threads: the UI thread calls everything but render(); the keeper thread watches the device
// and reopens it; the callback mixes. SDL's audio calls are made by the UI thread only while
// no device has been asked for yet, and by the keeper only after that, so they never overlap.
class SdlOutput final : public AudioOutput {
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
        // How the sound server lists the stream (its application name).
        std::string appName = "Velmor´s MP3-Player";
        // A running device whose callback has not come for this long is taken as lost.
        std::chrono::milliseconds stallLimit{500};
        // Between two attempts to open a device again while a source is playing.
        std::chrono::milliseconds retryInterval{1000};
        // A device through which nothing has played for this long is closed: an open stream
        // costs the player and the sound server a few percent of a core even when silent. The
        // next play opens one again, on the keeper's thread. Zero: never.
        std::chrono::milliseconds restAfter{10000};
        // The first device is opened by the keeper: ensureOpen() never waits for it.
        bool openInBackground = false;
    };

    explicit SdlOutput(ErrorSink& errors);
    SdlOutput(ErrorSink& errors, Options options);
    ~SdlOutput();
    SdlOutput(const SdlOutput&) = delete;
    SdlOutput& operator=(const SdlOutput&) = delete;

    int rate() const override { return options.rate; }
    // UI thread. Opens the device when none was asked for yet, and reports "No sound output:
    // <cause>" if that fails; while the keeper is reopening a lost one, or has closed an unused
    // one, asks it to open one at once and returns at once. True when a device is playing
    // (always true without a device).
    bool ensureOpen() override;
    bool isOpen() const override;

    void addSource(AudioSource* source) override;
    void removeSource(AudioSource* source) override;
    // The callback reads each command's effect itself, a buffer (21 ms) later at most.
    void follow(AudioSource&) override {}
    bool dropsQueueOnPause() const override { return false; }

    // What the callback does, without a device clock: silence, plus every source mixed in,
    // clipped to [-1, 1].
    void render(StereoFrame* out, int frames) noexcept;

private:
    struct Device;
    // Idle: none asked for yet. Opening: the keeper opens the first one. Resting: closed after
    // a silence, opened again on demand.
    enum class State { Idle, Opening, Open, Reopening, Resting };
    enum class Watched { Quit, Lost, Unused };

    static void callback(void* userdata, unsigned char* stream, int length);
    void mix(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept;
    // SDL's audio started if needed, and a device opened, paused until taken into use; the
    // cause when not.
    std::unique_ptr<Device> openDevice(std::string& cause);
    void closeDevice(std::unique_ptr<Device> device);
    void keep();  // the keeper thread
    // Keeper, while the device is open: returns when it is lost, has been unused for
    // `restAfter`, or the state changed. `lock` holds `mutex`.
    Watched watch(std::unique_lock<std::mutex>& lock);
    void rest(std::unique_lock<std::mutex>& lock);        // unused for a while: closed
    void giveUpLost(std::unique_lock<std::mutex>& lock);  // gone: told, closed, SDL restarted
    // Keeper, holding `mutex`, the device lost: its callback retired, the sources' clocks held.
    void holdSources(Device& lost);
    void reopen(std::unique_lock<std::mutex>& lock);
    // Opens a device with `mutex` let go; without one, tries again while a source plays.
    void openNow(std::unique_lock<std::mutex>& lock);
    void wakeFromRest(std::unique_lock<std::mutex>& lock);
    // Keeper: a device it opened becomes the output's device, or is closed if the output ends.
    void takeIntoUse(std::unique_lock<std::mutex>& lock, std::unique_ptr<Device> opened);
    bool anySourcePlaying() const;
    std::string namesPlaying() const;
    bool startKeeper();

    ErrorSink& errors;
    const Options options;
    OutageReport outage;  // the keeper's, or the UI's before there is a keeper
    std::array<std::atomic<AudioSource*>, kMaxSources> sources{};
    // Callbacks (or render calls) under way; removeSource() waits for it to reach 0.
    std::atomic<int> activeCallbacks{0};
    static_assert(std::atomic<AudioSource*>::is_always_lock_free);
    static_assert(std::atomic<int>::is_always_lock_free);

    // UI <-> keeper. Held to change the state or the device, and by the UI for the first open
    // (the keeper has nothing to do then); never by the callback.
    mutable std::mutex mutex;
    std::condition_variable keeperWake;
    State state = State::Idle;
    std::unique_ptr<Device> device;
    bool sdlStarted = false;
    bool retryNow = false;  // play() while reopening or resting: open one at once
    bool quit = false;
    std::thread keeper;  // started with the first device asked for
};
