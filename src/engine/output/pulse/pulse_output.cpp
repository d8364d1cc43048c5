#include "engine/output/pulse/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <limits>
#include <numeric>
#include <utility>

#include "components/error_sink.h"
#include "components/window_waits.h"
#include "engine/deck/audio_source.h"
#include "engine/deck/play_clock.h"
#include "engine/deck/verify.h"
#include "engine/output/stall_rule.h"

using Clock = std::chrono::steady_clock;
using Phase = DeckControl::Phase;

namespace {
// How soon a stream that had nothing to write is tried again: the decoder makes a second of
// sound in a few milliseconds, so a new epoch's first frames come within one or two of these.
// Each try that finds nothing waits twice as long, up to kRetryLongest: a deck whose disk does
// not answer costs a few wakeups a second, not hundreds.
constexpr std::chrono::milliseconds kRetrySoon{4};
constexpr std::chrono::milliseconds kRetryLongest{250};
constexpr std::chrono::milliseconds kWatchPeriod{250};
// A new stream may wait for a server that has just started or thawed, with our first buffer in
// it, for a second or two; once it has asked for more after that buffer, it asks steadily.
constexpr std::chrono::seconds kStartLimit{5};
constexpr int kSteadyAsks = 2;
constexpr auto kNever = Clock::time_point::max();
// A deck told its audio was dropped goes on with a new epoch at its next tick, which comes as
// late as the window may wait on a disk, and later on a busy machine. One that has not followed
// by then is not going to, and what it has is played: before that, the old epoch played on
// would be a skip, and the new one, from where it was heard, a repeat.
constexpr auto kStaleLimit = kLongestWindowWait + std::chrono::milliseconds(250);
// A cut of sound that plays fades out over this span, written into what the server holds, from
// a little after what has been heard: the server takes back what its sink has not played yet,
// so the fade is heard at once, and only then is the stream corked or flushed. A jump of the
// gain glides over as long.
constexpr std::chrono::microseconds kFade{5000};
// How far the server's estimate of what was heard may be off, and how far short of it its
// sink's rewind may fall: 2 ms on PulseAudio. PipeWire's pulse server takes a whole step of
// its graph at once, so that what it took since its last timing is only estimated: there the
// margin is that step (learnt from the server's read index; its largest, 2048 frames, until
// known) and 3 ms more.
constexpr std::chrono::microseconds kRewriteMargin{2000};
constexpr std::chrono::microseconds kPipeWireStepMargin{3000};
constexpr std::int64_t kLargestGraphStep = 2048;  // frames
constexpr int kStepMoves = 8;
// The new audio after a cut's fade starts further off: it waits for the fade anyway, and the
// server's own span then covers a late answer of ours.
constexpr std::chrono::microseconds kRestartMargin{10000};

// Frames of `span` at `rate`: the spans above hold at every sink's rate.
std::size_t framesIn(std::chrono::microseconds span, int rate) {
    return static_cast<std::size_t>(span.count() * rate / 1000000);
}
// PipeWire: how often the server is asked whether it has taken a fade, kFadeHeard apart.
constexpr int kFadeChecks = 30;
constexpr std::chrono::milliseconds kFadeHeard{3};  // beyond the margin's and the fade's span

// Lets the main loop's lock go at the end of a scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop(loop) { pa_threaded_mainloop_lock(loop); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop;
};

void forget(pa_operation* operation) {
    if (operation) pa_operation_unref(operation);
}

bool sounds(Phase phase) {
    return phase == Phase::Playing || phase == Phase::Cued;
}

// The name the sound server remembers the stream's routing and volume under.
std::string restoreId(const std::string& appId, const std::string& label) {
    std::string id = appId + "-";
    for (const char c : label)
        id += std::isalnum(static_cast<unsigned char>(c))
                  ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                  : '-';
    return id;
}

std::string mediaName(const std::string& label, const std::string& title) {
    return title.empty() ? label : label + ": " + title;
}
}  // namespace

struct PulseOutput::Stream {
    PulseOutput* owner = nullptr;
    AudioSource* source = nullptr;
    std::string label;
    pa_stream* pa = nullptr;
    pa_time_event* retry = nullptr;     // a fill that found nothing, tried again
    pa_time_event* fadeDone = nullptr;  // a cut's fade has been heard
    std::chrono::milliseconds retryAfter = kRetrySoon;
    bool ready = false;
    bool failed = false;  // failed alone, while the connection stands: the watch remakes it
    bool corked = true;
    bool sounding = false;  // the source's phase sounded when last applied
    std::uint32_t epoch = 0;
    float gain = 1.0f;
    std::string title;
    StallRule stall{{std::chrono::milliseconds(1000), kStartLimit, kWatchPeriod}};
    int asks = 0;                   // requests since the stream became ready
    Clock::time_point openedAt;     // a stream that fails again soon waits before the next
    std::uint32_t lastUnheard = 0;  // the server's last timing of the stream, in frames
    std::string device;             // chosen when it was made; "" the default
    bool awaiting = false;          // no stream: its chosen device is not there
    bool awaitTold = false;         // since it last played
    bool held = false;              // its source's clock was held when it failed
    // The rate it was made at: its sink's, so that the server resamples nothing.
    int rate = 0;
    std::string sink;      // where the server last played it, kept across remakes
    bool offRate = false;  // on a sink of another rate: the watch makes it anew
    // Made anew where the source was playing: the epoch it had is not written, the deck goes
    // on from where it was heard with a new one, within a tick.
    std::optional<std::uint32_t> staleEpoch;
    Clock::time_point staleUntil;
    // What was written since the last flush, before its gain and with it: a ring of
    // `historySize` frames, so that what the server holds can be written again, faded or at
    // another gain, continuing from the gain each frame had.
    struct Kept {
        StereoFrame frame;
        float gain;
    };
    std::unique_ptr<Kept[]> history;
    std::size_t historySize = 0;
    std::size_t historyEnd = 0;    // one past the newest frame
    std::size_t historyCount = 0;  // frames held, at most historySize
    float appliedGain = 1.0f;      // the gain the newest frame was written with
    float rewrittenGain = 1.0f;    // the gain the held frames were last written again at
    bool fading = false;           // a cut fades out: the cork or flush waits for it
    bool faded = false;            // and has been heard
    std::size_t fadeMargin = 0;    // frames before the last fade began, from what was heard
    std::int64_t fadeEnd = 0;      // the server's index, in bytes, where that fade ends
    int fadeChecks = 0;            // times the server was asked whether it has taken the fade
    // PipeWire: the server's read index when last timed, and its graph's step, both in bytes:
    // the index moves a whole step at a time, so the step divides every move. Learnt afresh
    // over each kStepMoves moves, as the graph's step changes with the clients it serves.
    std::int64_t lastReadIndex = -1;
    std::int64_t graphStep = 0;
    std::int64_t learntStep = 0;
    int stepMoves = 0;
    bool starting = false;     // corked until the first frames of what it plays are written
    bool restarting = false;   // the first frames go over the silence after a fade
    bool timingAsked = false;  // the server's timing asked afresh, for `timed`
    bool leadIn = false;       // the silence a start begins with is written
    unsigned timed = 0;        // Timed bits
};

PulseOutput::PulseOutput(ErrorSink& errors, Options options, LinkListener listener)
    : errors(errors),
      options(std::move(options)),
      listener(std::move(listener)),
      streams(std::make_unique<std::array<Stream, kMaxSources>>()),
      sinks({[this] { sinksListed(); }, [this](const std::string& name) { sinkAppeared(name); },
             [this](const std::string& name) { sinkGone(name); }}),
      outage(errors),
      watchAt(kNever) {
    loop = pa_threaded_mainloop_new();
    if (!loop) return;
    pa_threaded_mainloop_set_name(loop, "pulse output");
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    watchTimer = api->time_new(api, nullptr, &PulseOutput::onWatch, this);
    const std::size_t historySize = historyFrames(this->options.rate);
    scratch.resize(historySize);
    for (Stream& stream : *streams) {
        stream.owner = this;
        stream.retry = api->time_new(api, nullptr, &PulseOutput::onRetry, &stream);
        stream.fadeDone = api->time_new(api, nullptr, &PulseOutput::onFadeDone, &stream);
        stream.history = std::make_unique<Stream::Kept[]>(historySize);
        stream.historySize = historySize;
        stream.stall = StallRule({this->options.stallLimit, kStartLimit, kWatchPeriod});
    }
    if (pa_threaded_mainloop_start(loop) < 0) {
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }
}

PulseOutput::~PulseOutput() {
    if (!loop) return;
    {
        LoopLock lock(loop);
        for (Stream& stream : *streams) closeStream(stream);
        dropContext();
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        for (Stream& stream : *streams) {
            api->time_free(stream.retry);
            api->time_free(stream.fadeDone);
        }
        api->time_free(watchTimer);
    }
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

std::unique_ptr<PulseOutput> PulseOutput::start(ErrorSink& errors, Options options,
                                                LinkListener listener) {
    std::unique_ptr<PulseOutput> output(
        new PulseOutput(errors, std::move(options), std::move(listener)));
    if (!output->loop) return nullptr;
    LoopLock lock(output->loop);
    output->startConnect();
    return output;
}

std::unique_ptr<PulseOutput> PulseOutput::connect(ErrorSink& errors, Options options,
                                                  std::chrono::milliseconds patience,
                                                  std::string& cause) {
    std::unique_ptr<PulseOutput> output = start(errors, std::move(options));
    if (!output) {
        cause = "libpulse's main loop did not start";
        return nullptr;
    }
    {
        LoopLock lock(output->loop);
        const auto deadline = Clock::now() + patience;
        output->armWatch(patience);  // wakes the wait below at the deadline
        while (output->link == Link::Connecting && Clock::now() < deadline)
            pa_threaded_mainloop_wait(output->loop);
        if (output->link == Link::Ready) return output;
        cause = output->lastCause.empty() ? "the sound server does not answer" : output->lastCause;
    }
    return nullptr;
}

void PulseOutput::moveTo(Link next) {
    [[maybe_unused]] const auto allowed = [&] {
        switch (link) {
            case Link::Resting:
                return next == Link::Connecting || next == Link::Waiting;
            case Link::Waiting:
                return next == Link::Connecting || next == Link::Resting;
            case Link::Connecting:
                return next != Link::Connecting && next != Link::Confirming;
            case Link::Ready:
                return next == Link::Confirming || next == Link::Failed;
            case Link::Confirming:
                return next != Link::Confirming && next != Link::Connecting;
            case Link::Failed:
                return next == Link::Waiting || next == Link::Resting;
        }
        return false;
    };
    assert(allowed());
    link = next;
    if (next == Link::Connecting || next == Link::Confirming) linkStepAt = Clock::now();
}

void PulseOutput::startConnect() {
    dropContext();
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, options.appName.c_str());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, options.appId.c_str());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, options.appId.c_str());
    context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop),
                                           options.appName.c_str(), properties);
    pa_proplist_free(properties);
    moveTo(Link::Connecting);
    armWatch(kWatchPeriod);  // for the connect's limit
    if (!context) {
        failLink("libpulse could not make a context");
        return;
    }
    pa_context_set_state_callback(context, &PulseOutput::onContextState, this);
    // Never starts a server of its own: the desktop's is the one to use.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failLink(pa_strerror(pa_context_errno(context)));
    }
}

void PulseOutput::dropContext() {
    sinks.stop();
    if (roundTrip) {
        pa_operation_cancel(roundTrip);
        pa_operation_unref(roundTrip);
        roundTrip = nullptr;
    }
    if (!context) return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
}

void PulseOutput::onContextState(pa_context* context, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    if (context != output->context) return;
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            if (output->link == Link::Connecting) output->linkUp();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            output->failLink(pa_strerror(pa_context_errno(context)));
            break;
        default:
            break;
    }
    pa_threaded_mainloop_signal(output->loop, 0);
}

void PulseOutput::linkUp() {
    moveTo(Link::Ready);
    linkedOnce = true;
    sinks.start(context);  // the streams open once the sinks are known
    armWatch(kWatchPeriod);
    if (listener) listener(true);
}

void PulseOutput::dropLink() {
    // Streams that were ready had sound on the way; none ready: the server never took us.
    const bool streamed = std::any_of(streams->begin(), streams->end(),
                                      [](const Stream& stream) { return stream.ready; });
    const std::string names = namesHeard();
    const std::vector<std::string> waiting = labelsWaiting();
    const std::int64_t now = steadyNanoseconds();
    for (Stream& stream : *streams) {
        // What the server had queued is gone: the clock stands where the sound stopped.
        if (stream.ready && stream.source) stream.source->holdClock(now, stream.rate);
        closeStream(stream);
    }
    dropContext();
    goDown();
    if (listener) listener(false);
    if (!linkedOnce) return;  // whoever made us decides what to use meanwhile
    if (!names.empty())
        outage.lost(names);
    else if (!waiting.empty())
        outage.goneWhileWaiting(waiting);
    else if (!streamed)
        outage.noOutput(lastCause);
}

void PulseOutput::goDown() {
    nextAttempt = Clock::now() + options.retryInterval;
    moveTo(anySourcePlaying() ? Link::Waiting : Link::Resting);
    if (link == Link::Waiting) armWatch(kWatchPeriod);
}

void PulseOutput::failLink(std::string cause) {
    lastCause = std::move(cause);
    if (link == Link::Failed) return;
    moveTo(Link::Failed);
    armWatch(std::chrono::milliseconds::zero());
}

void PulseOutput::openStream(Stream& stream) {
    if (!sinks.listed()) return;
    stream.device = chosenFor(stream.label);
    stream.awaiting = false;
    if (!stream.device.empty() && !sinks.has(stream.device)) {
        awaitDevice(stream);
        return;
    }
    pa_proplist* properties = pa_proplist_new();
    const std::string id = restoreId(options.appId, stream.label);
    // PipeWire remembers a stream by its role before anything else, which both decks share:
    // without one, each deck is remembered by an id of its own.
    if (sinks.onPipeWire())
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, id.c_str());
    else
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    stream.title = stream.source->title();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, mediaName(stream.label, stream.title).c_str());
    pa_proplist_sets(properties, "module-stream-restore.id", id.c_str());
    // At its sink's rate: the server then passes the audio on as it is. Where the server puts
    // a stream that follows the default is known once it played there.
    const std::string& place = !stream.device.empty() ? stream.device : stream.sink;
    stream.rate = sinks.rateOf(place);
    if (stream.rate <= 0) stream.rate = sinks.rateOf({});
    if (stream.rate <= 0) stream.rate = options.rate;
    stream.source->playAt(stream.rate);
    if (stream.historySize < historyFrames(stream.rate)) {
        // Sized once for the highest rate met: never in the write path.
        stream.historySize = historyFrames(stream.rate);
        stream.history = std::make_unique<Stream::Kept[]>(stream.historySize);
        stream.historyEnd = 0;
        if (scratch.size() < stream.historySize) scratch.resize(stream.historySize);
    }
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(stream.rate), 2};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    // The name given here is the stream's media.name.
    stream.pa = pa_stream_new_with_proplist(context, mediaName(stream.label, stream.title).c_str(),
                                            &format, &map, properties);
    pa_proplist_free(properties);
    stream.failed = false;
    stream.openedAt = Clock::now();
    if (!stream.pa) {
        failLink(pa_strerror(pa_context_errno(context)));
        return;
    }
    pa_stream_set_state_callback(stream.pa, &PulseOutput::onStreamState, &stream);
    pa_stream_set_write_callback(stream.pa, &PulseOutput::onWritable, &stream);
    pa_stream_set_started_callback(stream.pa, &PulseOutput::onStarted, &stream);
    pa_stream_set_suspended_callback(stream.pa, &PulseOutput::onSuspended, &stream);
    pa_stream_set_latency_update_callback(stream.pa, &PulseOutput::onTiming, &stream);
    pa_stream_set_moved_callback(stream.pa, &PulseOutput::onMoved, &stream);
    const auto bytes = [&](std::chrono::milliseconds span) {
        return static_cast<std::uint32_t>(pa_usec_to_bytes(
            static_cast<pa_usec_t>(std::chrono::microseconds(span).count()), &format));
    };
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = bytes(options.buffer);
    // Starts once the buffer is full: the decoder fills it within milliseconds of a command;
    // a track's end that comes sooner is triggered.
    attributes.prebuf = bytes(std::chrono::milliseconds(20));
    // The server asks for more a quarter of the buffer at a time: 20 wakeups a second.
    attributes.minreq = bytes(options.buffer / 4);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    // The deck's gain is in the audio written: the stream's own volume stays full.
    stream.gain = stream.source->gain();
    stream.appliedGain = stream.gain;
    stream.rewrittenGain = stream.gain;
    stream.historyCount = 0;
    pa_cvolume volume;
    pa_cvolume_set(&volume, 2, PA_VOLUME_NORM);
    const DeckControl::Word word = stream.source->control();
    stream.ready = false;
    stream.corked = !sounds(word.phase);
    stream.sounding = !stream.corked;
    stream.epoch = word.epoch;
    stream.lastUnheard = 0;
    stream.lastReadIndex = -1;
    stream.graphStep = stream.learntStep = 0;
    stream.stepMoves = 0;
    // No PA_STREAM_ADJUST_LATENCY: it reconfigures the sink's own latency, and a stream made
    // so on a server that had just started was never asked for more (PulseAudio 16). The
    // position counts the sink's latency anyway, and cork and flush rewind the sink.
    // A chosen device keeps the stream: where it goes away the server ends the stream rather
    // than move it to another device, where the room would hear what was meant for headphones.
    const auto flags =
        static_cast<pa_stream_flags_t>((stream.corked ? PA_STREAM_START_CORKED : 0) |
                                       (stream.device.empty() ? 0 : PA_STREAM_DONT_MOVE) |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream.pa,
                                   stream.device.empty() ? nullptr : stream.device.c_str(),
                                   &attributes, flags, &volume, nullptr) < 0) {
        failLink(pa_strerror(pa_context_errno(context)));
    }
}

void PulseOutput::closeStream(Stream& stream) {
    armTimer(stream.retry, std::chrono::milliseconds(-1));
    armTimer(stream.fadeDone, std::chrono::milliseconds(-1));
    stream.fading = false;
    stream.starting = false;
    stream.restarting = false;
    stream.timingAsked = false;
    stream.timed = 0;
    stream.leadIn = false;
    stream.failed = false;
    stream.offRate = false;
    if (!stream.pa) return;
    pa_stream_set_state_callback(stream.pa, nullptr, nullptr);
    pa_stream_set_write_callback(stream.pa, nullptr, nullptr);
    pa_stream_set_started_callback(stream.pa, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream.pa, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream.pa, nullptr, nullptr);
    pa_stream_set_moved_callback(stream.pa, nullptr, nullptr);
    if (pa_stream_get_state(stream.pa) == PA_STREAM_CREATING) {
        // The server has not answered its making yet, and a disconnect now would be refused:
        // the server would keep it for good. It is ended once the server has made it.
        pa_stream_set_state_callback(stream.pa, &PulseOutput::onUnwanted, nullptr);
    } else {
        pa_stream_disconnect(stream.pa);
        pa_stream_unref(stream.pa);
    }
    stream.pa = nullptr;
    stream.ready = false;
    stream.held = false;
}

void PulseOutput::onUnwanted(pa_stream* pa, void*) {
    switch (pa_stream_get_state(pa)) {
        case PA_STREAM_READY:
            pa_stream_disconnect(pa);
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            pa_stream_set_state_callback(pa, nullptr, nullptr);
            pa_stream_unref(pa);  // libpulse holds its own while it calls
            break;
        default:
            break;
    }
}

void PulseOutput::holdSource(Stream& stream) {
    if (!stream.ready || !stream.source || stream.held) return;
    stream.held = true;
    stream.source->holdClock(steadyNanoseconds(), stream.rate);
    if (!stream.sounding) return;
    stream.staleEpoch = stream.epoch;
    stream.staleUntil = Clock::now() + kStaleLimit;
}

void PulseOutput::dropStream(Stream& stream) {
    holdSource(stream);
    closeStream(stream);
}

void PulseOutput::remakeStream(Stream& stream) {
    dropStream(stream);
    if (stream.source) openStream(stream);
}

void PulseOutput::awaitDevice(Stream& stream) {
    stream.awaiting = true;
    if (stream.awaitTold) return;
    stream.awaitTold = true;
    errors.report(stream.label + " waits for its output \"" + sinks.describe(stream.device) +
                  "\", which is not there; it plays on from where it stopped once it is back");
}

void PulseOutput::sinksListed() {
    for (Stream& stream : *streams)
        if (stream.source && !stream.pa) openStream(stream);
}

void PulseOutput::sinkAppeared(const std::string& name) {
    for (Stream& stream : *streams)
        if (stream.source && stream.device == name && (stream.awaiting || stream.failed))
            remakeStream(stream);
}

void PulseOutput::sinkGone(const std::string& name) {
    // Its streams were ended with it, or are about to be: they wait for it to come back.
    for (Stream& stream : *streams)
        if (stream.source && stream.pa && stream.device == name) {
            dropStream(stream);
            awaitDevice(stream);
        }
}

std::string PulseOutput::chosenFor(const std::string& label) const {
    for (const auto& [who, device] : chosen)
        if (who == label) return device;
    return {};
}

std::string PulseOutput::deviceFor(const std::string& label) const {
    if (!loop) return {};
    LoopLock lock(loop);
    return chosenFor(label);
}

std::vector<OutputDevice> PulseOutput::devices() const {
    if (!loop) return {};
    LoopLock lock(loop);
    return sinks.devices();
}

void PulseOutput::chooseDevice(const std::string& label, const std::string& device) {
    if (!loop) return;
    LoopLock lock(loop);
    const auto known = std::find_if(chosen.begin(), chosen.end(),
                                    [&](const auto& choice) { return choice.first == label; });
    if (known != chosen.end())
        known->second = device;
    else
        chosen.emplace_back(label, device);
    std::vector<std::string> devices;
    for (const auto& choice : chosen) devices.push_back(choice.second);
    sinks.choose(std::move(devices));
    for (Stream& stream : *streams) {
        if (!stream.source || stream.label != label) continue;
        if ((stream.pa || stream.awaiting) && stream.device == device) continue;
        // The server would not move a stream held to its device: it is made anew there.
        stream.sink.clear();
        stream.awaitTold = false;
        stream.awaiting = false;
        remakeStream(stream);
    }
}

void PulseOutput::onStreamState(pa_stream* pa, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    PulseOutput& output = *stream.owner;
    switch (pa_stream_get_state(pa)) {
        case PA_STREAM_READY:
            if (output.offRate(stream)) break;  // never ready at a rate its sink does not run
            stream.ready = true;
            stream.awaitTold = false;
            stream.stall.restart(Clock::now());
            stream.asks = 0;
            // The server may have restored a level it remembers (PipeWire does, whatever the
            // volume the stream was made with): the deck's own volume is the one heard.
            {
                pa_cvolume volume;
                pa_cvolume_set(&volume, 2, PA_VOLUME_NORM);
                forget(pa_context_set_sink_input_volume(output.context, pa_stream_get_index(pa),
                                                        &volume, nullptr, nullptr));
            }
            output.apply(stream);
            break;
        case PA_STREAM_FAILED:
            // The server gone fails every stream: its connection says so. A stream killed
            // from outside, or whose sink went away, fails alone: it is made again.
            if (pa_context_get_state(output.context) != PA_CONTEXT_READY) {
                output.failLink(pa_strerror(pa_context_errno(output.context)));
            } else {
                // Its device went away, or it was killed from outside: what it held unheard
                // is heard again from where the sound stopped, now, not once it is remade.
                output.holdSource(stream);
                stream.failed = true;
                output.armWatch(std::chrono::milliseconds::zero());
            }
            break;
        default:
            break;
    }
}

bool PulseOutput::offRate(Stream& stream) {
    const char* name = pa_stream_get_device_name(stream.pa);
    if (!name) return false;
    stream.sink = name;
    const int rate = sinks.rateOf(stream.sink);
    // Unknown yet (a sink just come): played as it is rather than remade on a guess.
    if (rate <= 0 || rate == stream.rate || !stream.source) return false;
    // Not from within libpulse's own callback on the stream.
    stream.offRate = true;
    armWatch(std::chrono::milliseconds::zero());
    return true;
}

void PulseOutput::onMoved(pa_stream*, void* self) {
    // Moved by the server or the user (a new default sink): made anew where the new sink runs
    // at another rate, going on from where it was heard.
    auto& stream = *static_cast<Stream*>(self);
    if (stream.ready) stream.owner->offRate(stream);
}

void PulseOutput::onStarted(pa_stream*, void* self) {
    // Sound flows: a server just started may take our streams before it has a sink.
    static_cast<Stream*>(self)->owner->outage.back();
}

void PulseOutput::onSuspended(pa_stream* pa, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    // Its sink sleeps (suspended by the user or the server, taken by another program, the
    // machine asleep): no stall while it does, and a resumed one is filled at once.
    stream.stall.progressed(Clock::now(), false);
    if (pa_stream_is_suspended(pa) == 0) stream.owner->fill(stream, pa_stream_writable_size(pa));
}

void PulseOutput::onTiming(pa_stream*, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    if (!stream.ready || !stream.source) return;
    stream.owner->learnGraphStep(stream);
    // The server's own timing: the clock counts what it has played, not what we wrote, and
    // stands still while the stream waits or its sink sleeps.
    if (const std::optional<std::uint32_t> unheard = stream.owner->unheardFrames(stream))
        stream.source->retime(MixTiming{steadyNanoseconds(), *unheard, false, true});
}

void PulseOutput::apply(Stream& stream) {
    if (!stream.pa || !stream.ready || !stream.source) return;
    const DeckControl::Word word = stream.source->control();
    const bool wanted = sounds(word.phase);
    // A new epoch (a seek, a step, a new file, stop) or a pause: what is queued is not to be
    // heard any more.
    const bool moved = word.epoch != stream.epoch;
    const bool halted =
        stream.sounding && (word.phase == Phase::Paused || word.phase == Phase::Stopped);
    updateProperties(stream);
    if (stream.fading) return;  // its end applies what came meanwhile
    if ((moved || halted) && stream.sounding && !stream.corked && !stream.faded) {
        // Faded where the server's timing, asked afresh, says the sound stands.
        stream.fading = true;
        askTiming(stream, Timed::Fade);
        return;
    }
    // The fade of a new position played: its audio goes over the silence that followed.
    const bool overSilence = moved && wanted && stream.faded;
    if ((moved || halted) && !overSilence) forget(pa_stream_flush(stream.pa, nullptr, nullptr));
    if (moved || halted) stream.historyCount = 0;
    if (moved) stream.staleEpoch.reset();
    stream.epoch = word.epoch;
    stream.sounding = wanted;
    if (wanted && (moved || stream.corked)) {
        // A stream that runs empty and is then given audio starts somewhere within it,
        // mid-swing: a corked one gets its first frames before it runs; a running one, whose
        // fade and silence the server holds, gets them over that silence, right after what
        // has been heard.
        stream.starting = stream.corked;
        stream.restarting = !stream.corked;
        stream.retryAfter = kRetrySoon;
        fill(stream, pa_stream_writable_size(stream.pa));
    } else if (!wanted) {
        stream.starting = false;
        stream.restarting = false;
        setCorked(stream, true);
    }
}

void PulseOutput::setCorked(Stream& stream, bool corked) {
    if (stream.corked == corked) return;
    forget(pa_stream_cork(stream.pa, corked ? 1 : 0, nullptr, nullptr));
    stream.corked = corked;
    stream.stall.progressed(Clock::now(), false);
}

void PulseOutput::updateProperties(Stream& stream) {
    const float gain = stream.source->gain();
    if (gain != stream.gain) {
        // A jump is heard at once: what the server holds is written again, gliding to the new
        // gain. A small step (a bar dragged slowly, levelling's glide) glides in the frames
        // written next, without making the server take back its buffer every tick.
        stream.gain = gain;
        if (!stream.fading && !stream.corked && audiblyApart(gain, stream.rewrittenGain))
            askTiming(stream, Timed::Gain);
    }
    std::string title = stream.source->title();
    if (title != stream.title) {
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, mediaName(stream.label, title).c_str());
        forget(
            pa_stream_proplist_update(stream.pa, PA_UPDATE_REPLACE, properties, nullptr, nullptr));
        pa_proplist_free(properties);
        stream.title = std::move(title);
    }
}

std::size_t PulseOutput::bufferFrames(int rate) const {
    return static_cast<std::size_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(options.buffer).count() * rate /
        1000000);
}

std::size_t PulseOutput::historyFrames(int rate) const {
    return bufferFrames(rate) * 2 + static_cast<std::size_t>(rate) / 5;
}

std::size_t PulseOutput::untaken(Stream& stream, std::size_t unheard) const {
    // PipeWire's pulse server cannot take back what its graph has taken, as PulseAudio's sinks
    // do: there only what the server still holds unread is written again.
    if (!sinks.onPipeWire()) return unheard;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream.pa);
    if (!timing || timing->read_index_corrupt || timing->write_index_corrupt) return 0;
    const std::int64_t queued =
        (timing->write_index - timing->read_index) / static_cast<std::int64_t>(sizeof(StereoFrame));
    const auto since =
        static_cast<std::int64_t>(pa_timeval_age(&timing->timestamp)) * stream.rate / 1000000;
    return std::min<std::size_t>(
        unheard, static_cast<std::size_t>(std::max<std::int64_t>(queued - since, 0)));
}

bool PulseOutput::audiblyApart(float a, float b) {
    constexpr float kStep = 1.122f;  // 1 dB
    if (a <= 0.0f || b <= 0.0f) return a != b;
    return a > b * kStep || b > a * kStep;
}

bool PulseOutput::rewrite(Stream& stream, float gain, bool silence) {
    // Frames the server holds that have not been heard; all written since the flush, where its
    // timing is not known yet.
    const std::optional<std::uint32_t> unheard = unheardFrames(stream);
    const std::size_t before = unheard ? *unheard : stream.historyCount;
    const std::size_t held = std::min<std::size_t>(untaken(stream, before), stream.historyCount);
    const std::size_t margin = rewriteMargin(stream);
    const auto fade = static_cast<float>(framesIn(kFade, stream.rate));
    if (!silence) stream.rewrittenGain = gain;
    if (held <= margin) return false;  // next to nothing left: the next frames glide to it
    const std::size_t frames = held - margin;
    stream.fadeMargin = before > frames ? before - frames : 0;
    if (silence) {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream.pa);
        const auto fadeFrames = std::min<std::size_t>(frames, framesIn(kFade, stream.rate));
        stream.fadeEnd =
            timing ? timing->write_index -
                         static_cast<std::int64_t>((frames - fadeFrames) * sizeof(StereoFrame))
                   : 0;
        stream.fadeChecks = 0;
    }
    std::size_t at = (stream.historyEnd + stream.historySize - frames) % stream.historySize;
    for (std::size_t i = 0; i < frames; ++i, at = (at + 1) % stream.historySize) {
        Stream::Kept& kept = stream.history[at];
        const float share = std::min(1.0f, static_cast<float>(i + 1) / fade);
        kept.gain = silence ? kept.gain * (1.0f - share) : kept.gain + (gain - kept.gain) * share;
        scratch[i] = {kept.frame.left * kept.gain, kept.frame.right * kept.gain};
    }
    // Over what it holds, from a little after what was heard on: the write index stays where
    // it was, and the server plays the new frames in place of the old, at once.
    const auto bytes = static_cast<std::int64_t>(frames * sizeof(StereoFrame));
    if (pa_stream_write(stream.pa, scratch.data(), static_cast<std::size_t>(bytes), nullptr, -bytes,
                        PA_SEEK_RELATIVE) < 0)
        return false;
    if (!silence) stream.appliedGain = gain;
    return true;
}

void PulseOutput::onFadeDone(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    stream.owner->wakeups.fetch_add(1, std::memory_order_relaxed);
    stream.owner->askTiming(stream, Timed::Faded);
}

void PulseOutput::askTiming(Stream& stream, Timed what) {
    stream.timed |= static_cast<unsigned>(what);
    if (stream.timingAsked) return;
    pa_operation* operation =
        pa_stream_update_timing_info(stream.pa, &PulseOutput::onTimed, &stream);
    if (!operation) {
        onTimed(stream.pa, 0, &stream);  // as well as it can without
        return;
    }
    stream.timingAsked = true;
    forget(operation);
}

void PulseOutput::onTimed(pa_stream* pa, int, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    if (pa != stream.pa) return;
    PulseOutput& output = *stream.owner;
    output.learnGraphStep(stream);
    stream.timingAsked = false;
    const unsigned what = std::exchange(stream.timed, 0u);
    if ((what & static_cast<unsigned>(Timed::Gain)) && !stream.fading && !stream.corked)
        output.rewrite(stream, stream.gain, false);
    if (what & static_cast<unsigned>(Timed::Fade)) {
        if (output.rewrite(stream, 0.0f, true)) {
            // Heard once what lies before it and the fade itself have played.
            const auto frames = stream.fadeMargin + framesIn(kFade, stream.rate);
            output.armTimer(stream.fadeDone,
                            kFadeHeard + std::chrono::milliseconds(frames * 1000 / stream.rate));
            return;
        }
    } else if (!(what & static_cast<unsigned>(Timed::Faded))) {
        return;
    } else if (!output.fadeTaken(stream)) {
        output.armTimer(stream.fadeDone, kFadeHeard);
        return;
    }
    // The fade has been heard, or there was next to nothing left to fade.
    stream.fading = false;
    stream.faded = true;  // for this apply only
    output.apply(stream);
    stream.faded = false;
}

void PulseOutput::learnGraphStep(Stream& stream) const {
    if (!sinks.onPipeWire()) return;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream.pa);
    if (!timing || timing->read_index_corrupt) return;
    const std::int64_t moved = timing->read_index - stream.lastReadIndex;
    if (stream.lastReadIndex >= 0 && moved > 0) {
        stream.learntStep = std::gcd(stream.learntStep, moved);
        if (++stream.stepMoves >= kStepMoves) {
            stream.graphStep = std::exchange(stream.learntStep, 0);
            stream.stepMoves = 0;
        }
    }
    stream.lastReadIndex = timing->read_index;
}

std::size_t PulseOutput::rewriteMargin(const Stream& stream) const {
    if (!sinks.onPipeWire()) return framesIn(kRewriteMargin, stream.rate);
    const std::int64_t step =
        stream.graphStep > 0 ? stream.graphStep / static_cast<std::int64_t>(sizeof(StereoFrame))
                             : kLargestGraphStep;
    return static_cast<std::size_t>(std::min(step, kLargestGraphStep)) +
           framesIn(kPipeWireStepMargin, stream.rate);
}

bool PulseOutput::fadeTaken(Stream& stream) const {
    // PipeWire's graph plays whatever it has taken from a stream, corked or not, and takes it
    // a step at a time: a step as long as the fade's margin or longer (a desktop's usual 1024
    // frames) would be corked before it reached the fade, a hard cut. There the cork waits
    // until the server has taken the fade's last frame, a tenth of a second at most.
    if (!sinks.onPipeWire()) return true;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream.pa);
    if (!timing || timing->read_index_corrupt || timing->read_index >= stream.fadeEnd) return true;
    return ++stream.fadeChecks > kFadeChecks;
}

std::optional<std::uint32_t> PulseOutput::unheardFrames(Stream& stream) const {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream.pa);
    pa_usec_t played = 0;
    // Right after a flush the write index is unknown until the server's next timing.
    if (!timing || timing->write_index_corrupt || pa_stream_get_time(stream.pa, &played) != 0)
        return std::nullopt;
    const pa_sample_spec* format = pa_stream_get_sample_spec(stream.pa);
    const pa_usec_t written = pa_bytes_to_usec(
        static_cast<std::uint64_t>(std::max<std::int64_t>(timing->write_index, 0)), format);
    const pa_usec_t unheard = written > played ? written - played : 0;
    const auto frames = unheard * static_cast<pa_usec_t>(stream.rate) / 1000000u;
    const auto bounded = static_cast<std::uint32_t>(
        std::min<pa_usec_t>(frames, std::numeric_limits<std::uint32_t>::max() / 2));
    stream.lastUnheard = bounded;
    return bounded;
}

void PulseOutput::onWritable(pa_stream*, std::size_t bytes, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    stream.asks = std::min(stream.asks + 1, kSteadyAsks);
    stream.stall.progressed(Clock::now(), stream.asks >= kSteadyAsks);
    stream.owner->fill(stream, bytes);
}

void PulseOutput::keepAndApplyGain(Stream& stream, StereoFrame* frames, int count) {
    const float target = stream.gain;
    const float step = 1.0f / static_cast<float>(framesIn(kFade, stream.rate));
    for (int i = 0; i < count; ++i) {
        if (stream.appliedGain != target)
            stream.appliedGain = stream.appliedGain < target
                                     ? std::min(target, stream.appliedGain + step)
                                     : std::max(target, stream.appliedGain - step);
        stream.history[stream.historyEnd] = {frames[i], stream.appliedGain};
        stream.historyEnd = (stream.historyEnd + 1) % stream.historySize;
        frames[i].left *= stream.appliedGain;
        frames[i].right *= stream.appliedGain;
    }
    stream.historyCount = std::min(stream.historyCount + count, stream.historySize);
}

void PulseOutput::fill(Stream& stream, std::size_t bytes) {
    if (!stream.pa || !stream.ready || !stream.source || stream.fading) return;
    if (stream.corked && !stream.starting) return;
    if (stream.staleEpoch) {
        // The deck goes on from where it was heard with a new epoch: the old one's audio
        // ahead of that is not to be heard. A deck that does not follow is played on.
        if (stream.source->control().epoch == *stream.staleEpoch &&
            Clock::now() < stream.staleUntil) {
            armTimer(stream.retry, kRetrySoon);
            return;
        }
        stream.staleEpoch.reset();
    }
    std::size_t wanted = bytes / sizeof(StereoFrame);
    // Not known right after a flush: the new audio is held unheard as long as the whole
    // buffer would take, rather than taken as heard at once, until the server's timing
    // (onTiming) says when it sounds.
    const std::optional<std::uint32_t> unheard = unheardFrames(stream);
    MixTiming chunkTiming{steadyNanoseconds(),
                          unheard ? *unheard
                                  : std::max(stream.lastUnheard,
                                             static_cast<std::uint32_t>(bufferFrames(stream.rate))),
                          false, true, stream.rate};
    // Over the silence after a fade, from a little after what has been heard.
    std::size_t back = 0;
    const std::size_t open = unheard ? untaken(stream, *unheard) : 0;
    const std::size_t restart =
        std::max(framesIn(kRestartMargin, stream.rate), rewriteMargin(stream));
    if (stream.restarting && open > restart) {
        back = std::min<std::size_t>(open - restart, stream.historySize);
        wanted += back;
        chunkTiming.queuedFrames = static_cast<std::uint32_t>(*unheard - back);
    }
    bool fellShort = false;
    bool written = false;
    if (stream.starting && !stream.leadIn) {
        // A stream that starts may begin a little within what it was given, where its sink's
        // rewind falls short: a moment of silence first keeps the fade-in whole.
        const std::size_t lead = framesIn(kRewriteMargin, stream.rate);
        std::fill_n(scratch.begin(), lead, StereoFrame{});
        keepAndApplyGain(stream, scratch.data(), static_cast<int>(lead));
        pa_stream_write(stream.pa, scratch.data(), lead * sizeof(StereoFrame), nullptr, 0,
                        PA_SEEK_RELATIVE);
        stream.leadIn = true;
    }
    while (wanted > 0) {
        void* data = nullptr;
        std::size_t size = wanted * sizeof(StereoFrame);
        if (pa_stream_begin_write(stream.pa, &data, &size) < 0 || !data) break;
        const int frames = static_cast<int>(std::min(wanted, size / sizeof(StereoFrame)));
        auto* out = static_cast<StereoFrame*>(data);
        std::fill(out, out + frames, StereoFrame{});
        const int made = stream.source->mixInto(out, frames, chunkTiming);
        if (made <= 0) {
            pa_stream_cancel_write(stream.pa);
            fellShort = true;
            break;
        }
        keepAndApplyGain(stream, out, made);
        pa_stream_write(stream.pa, data, static_cast<std::size_t>(made) * sizeof(StereoFrame),
                        nullptr, -static_cast<std::int64_t>(back * sizeof(StereoFrame)),
                        PA_SEEK_RELATIVE);
        back = 0;
        stream.restarting = false;
        written = true;
        wanted -= static_cast<std::size_t>(made);
        chunkTiming.queuedFrames += static_cast<std::uint32_t>(made);
        if (made < frames) {
            fellShort = true;
            break;
        }
    }
    if (written && stream.starting) {
        stream.starting = false;
        stream.leadIn = false;
        setCorked(stream, false);
    }
    // The track's end is written (or the cued file has nothing yet): the server would wait
    // for its prebuffer before it plays, and a sound shorter than that would never be heard.
    const Phase phase = stream.source->control().phase;
    if (fellShort && written && (phase == Phase::Ended || phase == Phase::Cued))
        forget(pa_stream_trigger(stream.pa, nullptr, nullptr));
    // The decoder is behind (a new epoch's first frames, or a disk that does not answer):
    // come back for them, sooner while they flow.
    const bool again = fellShort && wanted > 0 && stream.source->isPlaying();
    if (!again) {
        stream.retryAfter = kRetrySoon;
        armTimer(stream.retry, std::chrono::milliseconds(-1));
        return;
    }
    if (written) stream.retryAfter = kRetrySoon;
    armTimer(stream.retry, stream.retryAfter);
    stream.retryAfter = std::min(stream.retryAfter * 2, kRetryLongest);
}

void PulseOutput::onRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    stream.owner->wakeups.fetch_add(1, std::memory_order_relaxed);
    if (stream.pa && stream.ready) stream.owner->fill(stream, pa_stream_writable_size(stream.pa));
}

void PulseOutput::onWatch(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    output->wakeups.fetch_add(1, std::memory_order_relaxed);
    output->rounds.fetch_add(1, std::memory_order_relaxed);
    output->watchAt = kNever;
    output->watch();
    pa_threaded_mainloop_signal(output->loop, 0);
}

void PulseOutput::onServerInfo(pa_context*, const pa_server_info*, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    if (output->link != Link::Confirming) return;
    // The server answers: the stall is its sink's or ours, not a lost server.
    forget(std::exchange(output->roundTrip, nullptr));
    output->moveTo(Link::Ready);
    const auto now = Clock::now();
    for (Stream& stream : *output->streams) stream.stall.progressed(now, false);
}

void PulseOutput::watch() {
    const auto now = Clock::now();
    switch (link) {
        case Link::Failed:
            dropLink();
            break;
        case Link::Ready:
            if (sinks.waiting() && now - sinks.askedAt() > options.connectLimit) {
                failLink("the sound server does not answer");
                break;
            }
            for (Stream& stream : *streams)
                if (stream.offRate && stream.pa) remakeStream(stream);
            for (Stream& stream : *streams)
                if (stream.failed) {
                    // Failed again soon after it was made: not at once, and not in a loop.
                    if (now - stream.openedAt >= options.retryInterval) remakeStream(stream);
                }
            checkStalls(now);
            break;
        case Link::Confirming:
            if (now - linkStepAt >= options.confirmLimit) {
                lastCause = "the sound server stalled";
                dropLink();
            }
            break;
        case Link::Connecting:
            if (now - linkStepAt > options.connectLimit) {
                lastCause = "the sound server does not answer";
                dropContext();
                goDown();
                if (listener) listener(false);
            }
            break;
        case Link::Waiting:
            if (!anySourcePlaying())
                moveTo(Link::Resting);
            else if (now >= nextAttempt)
                startConnect();
            break;
        case Link::Resting:
            break;
    }
    const bool needed =
        link == Link::Connecting || link == Link::Confirming || link == Link::Failed ||
        link == Link::Waiting ||
        (link == Link::Ready && (anySourcePlaying() || sinks.waiting() ||
                                 std::any_of(streams->begin(), streams->end(),
                                             [](const Stream& stream) { return stream.failed; })));
    if (needed) armWatch(link == Link::Failed ? std::chrono::milliseconds::zero() : kWatchPeriod);
}

void PulseOutput::checkStalls(Clock::time_point now) {
    // The server asks for more every quarter of the buffer; one that has stopped asking while
    // it holds our audio may have stalled. A stream short of audio asks no more until it gets
    // some, so only a full one counts; a suspended one is asked for nothing.
    bool stalled = false;
    for (Stream& stream : *streams) {
        const bool expected =
            stream.pa && stream.ready && !stream.failed && stream.source && !stream.corked &&
            stream.source->isPlaying() && pa_stream_is_suspended(stream.pa) != 1 &&
            pa_stream_writable_size(stream.pa) <
                pa_usec_to_bytes(std::chrono::microseconds(options.buffer).count() / 2,
                                 pa_stream_get_sample_spec(stream.pa));
        stalled = stream.stall.stalled(now, expected) || stalled;
    }
    if (!stalled) return;
    // Before the server is called lost, it is asked: one that answers is there.
    roundTrip = pa_context_get_server_info(context, &PulseOutput::onServerInfo, this);
    if (!roundTrip) {
        failLink(pa_strerror(pa_context_errno(context)));
        return;
    }
    moveTo(Link::Confirming);
}

void PulseOutput::armWatch(std::chrono::milliseconds after) {
    // A watch due sooner stays due: commands come every tick, and must not put it off.
    const auto at = Clock::now() + after;
    if (watchAt <= at) return;
    watchAt = at;
    armTimer(watchTimer, after);
}

void PulseOutput::armTimer(pa_time_event* event, std::chrono::milliseconds after) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    if (after.count() < 0) {
        api->time_restart(event, nullptr);
        return;
    }
    struct timeval when;
    pa_timeval_add(pa_gettimeofday(&when),
                   static_cast<pa_usec_t>(std::chrono::microseconds(after).count()));
    api->time_restart(event, &when);
}

bool PulseOutput::ensureOpen() {
    if (!loop) return false;
    LoopLock lock(loop);
    if (link == Link::Ready || link == Link::Confirming) return true;
    // A play while down: at once, not at the next attempt's time.
    if (link == Link::Resting || link == Link::Waiting) startConnect();
    return false;
}

bool PulseOutput::resting() const {
    if (!loop) return true;
    LoopLock lock(loop);
    // Every stream is closed, its timers with it, once the link is down.
    return link == Link::Resting && watchAt == kNever;
}

bool PulseOutput::isOpen() const {
    if (!loop) return false;
    LoopLock lock(loop);
    return link == Link::Ready || link == Link::Confirming;
}

PulseOutput::Stream* PulseOutput::streamOf(const AudioSource* source) {
    for (Stream& stream : *streams)
        if (stream.source == source) return &stream;
    return nullptr;
}

void PulseOutput::addSource(AudioSource* source) {
    if (!loop) return;
    LoopLock lock(loop);
    Stream* stream = streamOf(nullptr);
    if (!verifyOrReport(stream != nullptr, errors,
                        "Sound output: room for " + std::to_string(kMaxSources) +
                            " decks only; one more stays silent"))
        return;
    stream->source = source;
    stream->label = source->label();
    if (link == Link::Ready || link == Link::Confirming) openStream(*stream);
}

void PulseOutput::removeSource(AudioSource* source) {
    if (!loop || !source) return;
    LoopLock lock(loop);
    if (Stream* stream = streamOf(source)) {
        closeStream(*stream);
        stream->source = nullptr;
    }
}

void PulseOutput::follow(AudioSource& source) {
    if (!loop) return;
    LoopLock lock(loop);
    Stream* stream = streamOf(&source);
    if (!stream) return;
    apply(*stream);
    if (source.isPlaying()) {
        if (link == Link::Resting) moveTo(Link::Waiting);
        armWatch(kWatchPeriod);
    }
}

bool PulseOutput::anySourcePlaying() const {
    return std::any_of(streams->begin(), streams->end(), [](const Stream& stream) {
        return stream.source && stream.source->isPlaying();
    });
}

std::string PulseOutput::namesHeard() const {
    std::array<AudioSource*, kMaxSources> sources{};
    for (std::size_t i = 0; i < sources.size(); ++i)
        if ((*streams)[i].ready) sources[i] = (*streams)[i].source;
    return playingNames(sources);
}

std::vector<std::string> PulseOutput::labelsWaiting() const {
    std::vector<std::string> labels;
    for (const Stream& stream : *streams)
        if (stream.source && stream.awaiting && stream.source->isPlaying())
            labels.push_back(stream.label);
    return labels;
}
