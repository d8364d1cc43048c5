#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/deck/audio_source.h"
#include "engine/deck/stereo_frame.h"
#include "engine/output/audio_output.h"
#include "engine/output/outage_report.h"
#include "engine/output/pulse/sink_catalogue.h"

struct pa_context;
struct pa_operation;
struct pa_proplist;
struct pa_sample_spec;
struct pa_server_info;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
class ErrorSink;

// One playback stream per source on the sound server (PulseAudio, or PipeWire's pulse
// server), so that the desktop lists "Deck 1" and "Deck 2" and can route and remember each.
//
// The server holds a large buffer of each stream (few wakeups for it and for us), yet every
// command acts at once: a cut fades out over what the server holds (a pause then corks and
// flushes the stream, a seek or a new file writes the new audio over the silence), and a
// volume that jumps is written again over it. A source's clock follows the server's own
// timing of its stream.
//
// A lost server (its connection fails, or a stream with audio queued is not asked for more
// for `stallLimit` and the server does not answer a round trip within `confirmLimit`) leaves
// the sources where they were heard; the loss is told once, the output connects again in the
// background, once a second while a source plays, and tells once that sound flows again. A
// suspended sink is no loss, nor is our own process held up. A stream that fails alone (killed
// from outside) is that source's alone: it is made again, the others play on.
//
// Its parts, each in a file of its own: the link (pulse_link.cpp), a stream's life
// (pulse_stream_life.cpp), the cuts and glides over what the server holds (pulse_cuts.cpp,
// over HeldAudio), the feeder (pulse_feeder.cpp); a stream's states are in pulse_stream.h.
//
// Threads: libpulse's main loop thread runs every callback of the server's and the output's
// timers, with the main loop's lock held; the other threads take that lock for each call.
class PulseOutput final : public AudioOutput {
public:
    struct Options {
        // Where the sink's own rate is not known: a stream runs at its sink's.
        int rate = 48000;
        // The server's buffer of each stream. Control does not wait behind it.
        std::chrono::milliseconds buffer{200};
        std::string appName = "Velmor´s MP3-Player";
        std::string appId = "velmor-mp3-player";
        // A stream with audio queued that the server has not asked more of for this long: the
        // server may have stalled, and a round trip tells.
        std::chrono::milliseconds stallLimit{1000};
        // The round trip's answer (a local server's comes within milliseconds): without one
        // by then, the server has stalled.
        std::chrono::milliseconds confirmLimit{500};
        // Between two attempts to connect again while a source is playing.
        std::chrono::milliseconds retryInterval{1000};
        // A connect that has not finished by then is given up and tried again.
        std::chrono::milliseconds connectLimit{3000};
    };
    // The main loop's thread, with its lock held: the link came up (true), or an attempt to
    // connect ended without it (false). Must not call the output.
    using LinkListener = std::function<void(bool up)>;

    // Connecting in the background; never waits for the server. Silent about failures until
    // it has been connected once: whoever made it decides what to use meanwhile.
    static std::unique_ptr<PulseOutput> start(ErrorSink& errors, Options options,
                                              LinkListener listener = {});
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
    bool offersDevices() const override { return true; }
    std::vector<OutputDevice> devices() const override;
    void chooseDevice(const std::string& label, const std::string& device) override;
    std::string deviceFor(const std::string& label) const override;

    // Tests: the output's timers that have fired, its watch's and its streams' retries; the
    // rounds of its watch alone; whether it rests: no connection, and no timer armed.
    std::uint64_t timerWakeups() const { return wakeups.load(std::memory_order_relaxed); }
    std::uint64_t watchRounds() const { return rounds.load(std::memory_order_relaxed); }
    bool resting() const;

private:
    struct Stream;
    // The connection to the server. Steps: Resting -> Connecting; Waiting -> Connecting or
    // Resting; Connecting -> Ready, Failed, Waiting or Resting; Ready -> Confirming or Failed;
    // Confirming -> Ready, Failed, Waiting or Resting; Failed -> Waiting or Resting; Resting ->
    // Waiting when a source plays.
    enum class Link {
        Resting,     // none, and nothing wants one: no timer runs
        Waiting,     // none; the next attempt at `nextAttempt`, while a source plays
        Connecting,  // a context on its way
        Ready,
        Confirming,  // a stream stalled: a round trip asks whether the server is there
        Failed,      // the connection failed: the watch drops it at once
    };

    PulseOutput(ErrorSink& errors, Options options, LinkListener listener);

    // All below: with the main loop's lock held.
    void moveTo(Link next);
    void startConnect();
    void linkUp();
    // The connection failed or stalled: streams and context dropped, told once, tried again.
    void dropLink();
    // Without a connection now: waits for the next attempt while a source plays, else rests.
    void goDown();
    // A failure met on the way: the watch drops the link at once, never a libpulse callback
    // from within.
    void failLink(std::string cause);
    void dropContext();
    // Once the server's sinks are known: on the source's chosen device, held there (a device
    // that goes away takes the stream with it, never to another one), or on the default.
    void openStream(Stream& stream);
    // What the server knows the stream by: its name, and what it remembers its routing under.
    pa_proplist* streamProperties(const Stream& stream) const;
    // Asks the server to make it: its buffer, started corked unless it sounds, held to a
    // chosen device.
    void connectStream(Stream& stream, const pa_sample_spec& format);
    // The chosen device is not there: the stream waits for it, told once.
    void awaitDevice(Stream& stream);
    void sinksListed();
    void sinkAppeared(const std::string& name);
    void sinkGone(const std::string& name);
    void sinkRateChanged(const std::string& name);
    // The stream goes; what it held unheard is heard again from the source.
    void dropStream(Stream& stream);
    // The source's clock stands where the stream's sound stopped.
    void holdSource(Stream& stream);
    std::string chosenFor(const std::string& label) const;
    void closeStream(Stream& stream);
    // The server placed the stream on a sink of another rate than it was made at: the watch
    // makes it anew at that sink's rate. False when it stays.
    bool offRate(Stream& stream);
    // Made anew (another device, another rate): a stream that sounds fades out first.
    void renew(Stream& stream);
    void renewNow(Stream& stream);
    // The stream failed alone (killed from outside, its sink gone, a write refused): the
    // source's clock stands where it was heard, and the watch makes the stream again.
    void failStream(Stream& stream);
    // The source's queued audio is gone, the stream made again.
    void remakeStream(Stream& stream);
    // Brings the stream to its source's state: corked or not, flushed after a command that
    // moved or halted it, its volume and its name. `faded`: a cut's fade has just been heard.
    void apply(Stream& stream, bool faded = false);
    void setCorked(Stream& stream, bool corked);
    // What waits for the server's timing, asked afresh: a rewrite placed by an old timing
    // lands off the sound by as much as it has drifted.
    enum class Timed : unsigned { Fade = 1, Faded = 2, Gain = 4 };
    void askTiming(Stream& stream, Timed what);
    static void onTimed(pa_stream* pa, int success, void* self);
    // The source's gain and title, to the stream.
    void updateProperties(Stream& stream);
    // Writes again what the server holds unheard, from a little after what was heard on:
    // gliding to `gain`, or fading out to silence. Nothing when it holds next to nothing.
    enum class Rewritten { Nothing, Written, Failed };
    Rewritten rewrite(Stream& stream, float gain, bool silence);
    // Gains a listener hears apart (1 dB or more, or one of them silent).
    static bool audiblyApart(float a, float b);
    // Of the frames not heard yet, those the server can still take back.
    std::size_t untaken(Stream& stream, std::size_t unheard) const;
    void learnGraphStep(Stream& stream) const;
    std::size_t rewriteMargin(const Stream& stream) const;
    bool fadeTaken(Stream& stream) const;
    // Keeps the frames about to be written, then gives them the stream's gain.
    void keepAndApplyGain(Stream& stream, StereoFrame* frames, int count);
    std::size_t bufferFrames(int rate) const;
    // Room for what the server may hold, and more, at `rate`.
    std::size_t historyFrames(int rate) const;
    // Writes what the source has, up to `bytes`; tries again, later each time, while it has
    // nothing.
    void fill(Stream& stream, std::size_t bytes);
    // Whether the stream takes audio now: ready, not cutting, and not waiting for its deck to
    // leave an epoch the server dropped.
    bool mayFill(Stream& stream);
    // The moment of silence a corked start begins with; false when the server refused it.
    bool writeLeadIn(Stream& stream);
    // What a round of the source's frames written did.
    struct Fed {
        bool written = false;
        bool fellShort = false;  // the source had less than asked
        bool refused = false;    // the server refused a write
        std::size_t missing = 0;
    };
    // The source's frames, `wanted` of them, the first `back` over what the server holds.
    Fed writeSource(Stream& stream, std::size_t wanted, std::size_t back, MixTiming timing);
    // Frames written that the server has not played yet, by its own timing; none known right
    // after a flush, until the server's next timing says where the stream stands.
    std::optional<std::uint32_t> unheardFrames(Stream& stream) const;
    void watch();  // the periodic check: stalls, connects, reconnects
    void checkStalls(std::chrono::steady_clock::time_point now);
    void armWatch(std::chrono::milliseconds after);
    void armTimer(pa_time_event* event, std::chrono::milliseconds after);
    Stream* streamOf(const AudioSource* source);
    bool anySourcePlaying() const;
    // What the sources whose streams were ready play: what was heard.
    std::string namesHeard() const;
    // The sources that play, but wait for their chosen device: nothing of theirs was heard.
    std::vector<std::string> labelsWaiting() const;

    static void onContextState(pa_context* context, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWritable(pa_stream* stream, std::size_t bytes, void* self);
    static void onStarted(pa_stream* stream, void* self);
    static void onSuspended(pa_stream* stream, void* self);
    static void onTiming(pa_stream* stream, void* self);
    static void onMoved(pa_stream* stream, void* self);
    // A stream closed before the server made it: ended once it is made, then let go.
    static void onUnwanted(pa_stream* stream, void*);
    static void onWatch(struct pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onRetry(struct pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onFadeDone(struct pa_mainloop_api*, pa_time_event*, const struct timeval*,
                           void* self);

    ErrorSink& errors;
    const Options options;
    const LinkListener listener;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_time_event* watchTimer = nullptr;
    std::unique_ptr<std::array<Stream, kMaxSources>> streams;
    SinkCatalogue sinks;
    std::vector<StereoFrame> scratch;                         // a rewrite's frames
    std::vector<std::pair<std::string, std::string>> chosen;  // label, device

    Link link = Link::Resting;
    OutageReport outage;
    bool linkedOnce = false;            // failures are told only once the server has been there
    pa_operation* roundTrip = nullptr;  // while Confirming
    std::string lastCause;
    std::chrono::steady_clock::time_point linkStepAt;   // Connecting or Confirming since
    std::chrono::steady_clock::time_point nextAttempt;  // while Waiting
    std::chrono::steady_clock::time_point watchAt;      // the watch armed for; max: not armed
    std::atomic<std::uint64_t> wakeups{0};
    std::atomic<std::uint64_t> rounds{0};
};
