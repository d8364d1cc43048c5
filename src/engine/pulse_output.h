#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/audio_output.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
class ErrorSink;

// One playback stream per source on the sound server (PulseAudio, or PipeWire's pulse
// server), so that the desktop lists "Deck 1" and "Deck 2" and can route and remember each.
//
// The server holds a large buffer of each stream (few wakeups for it and for us), yet every
// command acts at once: a pause corks and flushes the stream, a seek or a new file flushes it
// and writes the new audio straight away, and the deck's volume is the stream's own volume,
// which the server applies to what it has queued.
//
// A lost server (the connection fails, or a stream with audio queued is not asked for more
// for `stallLimit`) leaves the sources where they were heard; the loss is told once, the
// output connects again in the background, once a second while a source plays, and tells
// once that sound is back.
//
// Threads: libpulse's main loop thread runs every callback of the server's and the output's
// timers, with the main loop's lock held; the other threads take that lock for each call.
class PulseOutput final : public AudioOutput {
public:
    struct Options {
        int rate = 48000;
        // The server's buffer of each stream. Control does not wait behind it.
        std::chrono::milliseconds buffer{200};
        std::string appName = "Velmor´s MP3-Player";
        std::string appId = "velmor-mp3-player";
        // A stream with audio queued that the server has not asked more of for this long: the
        // server has stalled.
        std::chrono::milliseconds stallLimit{1000};
        // Between two attempts to connect again while a source is playing.
        std::chrono::milliseconds retryInterval{1000};
        // A connect that has not finished by then is given up and tried again.
        std::chrono::milliseconds connectLimit{3000};
    };

    // Connected to the server, or nullptr with the cause when none answers within `patience`.
    static std::unique_ptr<PulseOutput> connect(ErrorSink& errors, Options options,
                                                std::chrono::milliseconds patience,
                                                std::string& cause);
    ~PulseOutput() override;
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    int rate() const override { return options.rate; }
    bool ensureOpen() override;
    bool isOpen() const override;
    void addSource(AudioSource* source) override;
    void removeSource(AudioSource* source) override;
    void follow(AudioSource& source) override;
    bool dropsQueueOnPause() const override { return true; }

private:
    struct Stream;
    enum class Link { Down, Connecting, Ready };

    PulseOutput(ErrorSink& errors, Options options);

    // All below: with the main loop's lock held.
    void startConnect();
    void linkUp();
    // The connection failed or stalled: streams and context dropped, told once, tried again.
    void dropLink();
    // A failure met on the way: the watch drops the link at once, never a libpulse callback
    // from within.
    void failLink(std::string cause);
    void dropContext();
    void openStream(Stream& stream);
    void closeStream(Stream& stream);
    // Brings the stream to its source's state: corked or not, flushed after a command that
    // moved or halted it, its volume and its name.
    void apply(Stream& stream);
    // Writes what the source has, up to `bytes`; tries again shortly while it has too little.
    void fill(Stream& stream, std::size_t bytes);
    std::uint32_t queuedFrames(Stream& stream) const;
    void watch();  // the periodic check: stalls, connects, reconnects
    void armWatch(std::chrono::milliseconds after);
    void armTimer(pa_time_event* event, std::chrono::milliseconds after);
    Stream* streamOf(const AudioSource* source);
    bool anySourcePlaying() const;
    std::string playingNames() const;

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWritable(pa_stream* stream, std::size_t bytes, void* self);
    static void onWatch(struct pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onRetry(struct pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

    ErrorSink& errors;
    const Options options;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_time_event* watchTimer = nullptr;
    std::unique_ptr<std::array<Stream, kMaxSources>> streams;

    Link link = Link::Down;
    bool linkFailed = false;      // a callback saw the connection or a stream fail
    bool reportFailures = false;  // not while connect() still decides whether to use us
    bool lossTold = false;        // "Sound output lost ..." said; "... is back" follows
    bool failureTold = false;     // "No sound output: ..." said for this outage
    bool retryNow = false;        // a play while down: connect at once
    bool watchDue = false;        // the watch timer is armed
    std::string lastCause;
    std::chrono::steady_clock::time_point connectStarted;
    std::chrono::steady_clock::time_point nextAttempt;
};
