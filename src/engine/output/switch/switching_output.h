#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/output/audio_output.h"
#include "engine/output/pulse/pulse_output.h"

class ErrorSink;
class SdlOutput;

// The output the player starts on, without waiting for any: the sound server's own streams
// once a server answers; one SDL device when the first attempt finds none (bare ALSA, or a
// server that hangs). Having fallen back, it moves every source to the server's own streams
// as soon as one answers, from where each was heard, and stays there (the server's streams
// ride out a restart of their own).
//
// Threads: the UI thread calls everything (removeSource any thread but the outputs' own); the
// switcher thread makes the moves and, while a source plays on SDL, asks the server once a
// `retryInterval`. `mutex` is held for each call and each move, and is taken before either
// output's own lock, never after; the pulse output's listener takes only `wakeMutex`.
class SwitchingOutput final : public AudioOutput {
public:
    using SdlMaker = std::function<std::unique_ptr<SdlOutput>()>;

    // `makeSdl` makes the fallback, opening its device off the calling thread.
    SwitchingOutput(ErrorSink& errors, PulseOutput::Options options, SdlMaker makeSdl);
    ~SwitchingOutput() override;
    SwitchingOutput(const SwitchingOutput&) = delete;
    SwitchingOutput& operator=(const SwitchingOutput&) = delete;

    int rate() const override { return rate_; }
    bool ensureOpen() override;
    bool isOpen() const override;
    void addSource(AudioSource* source) override;
    void removeSource(AudioSource* source) override;
    void follow(AudioSource& source) override;
    bool dropsQueueOnPause() const override;
    // The server's choice of outputs, once the sources play there. A source with a chosen
    // device stays off SDL: SDL plays on the system's default, which is not the one chosen.
    bool offersDevices() const override;
    std::vector<OutputDevice> devices() const override;
    void chooseDevice(const std::string& label, const std::string& device) override;
    std::string deviceFor(const std::string& label) const override;

    // Tests: whether the sources play on the server's own streams (not deciding, not SDL).
    bool onServer() const;

private:
    enum class On { Deciding, Server, Sdl };

    void run();  // the switcher thread
    // With `mutex` held. The first attempt found no server: the sources go to SDL.
    void fallBack();
    // With `mutex` held. A server answers: the sources leave SDL, which is handed back to be
    // closed without the lock.
    std::unique_ptr<SdlOutput> moveToServer();
    AudioOutput* current() const;
    // With `mutex` held, on SDL: whether a source plays there, told once while it waits.
    bool playsOnSdl(const AudioSource* source);
    bool anySourcePlaying() const;

    const SdlMaker makeSdl;
    const std::chrono::milliseconds retryInterval;
    int rate_ = 48000;

    mutable std::mutex mutex;
    On on = On::Deciding;
    bool wanted = false;  // a play came while deciding: SDL opens at once when it takes over
    std::vector<AudioSource*> sources;
    std::unique_ptr<PulseOutput> pulse;
    std::unique_ptr<SdlOutput> sdl;
    ErrorSink& errors;
    std::vector<std::string> waitTold;  // labels held off SDL, told so

    // The pulse output's news for the switcher thread.
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool linkUp = false;
    bool linkDown = false;
    bool poked = false;
    bool quit = false;
    std::thread switcher;
};
