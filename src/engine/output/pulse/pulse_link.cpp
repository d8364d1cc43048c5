// The link to the server: connecting and connecting again, the periodic watch, a stall
// confirmed by a round trip before the server is called lost.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <limits>
#include <utility>

#include "components/error_sink.h"
#include "engine/deck/audio_source.h"
#include "engine/deck/play_clock.h"
#include "engine/deck/verify.h"
#include "engine/output/pulse/pulse_output.h"
#include "engine/output/pulse/pulse_stream.h"

using namespace pulse_parts;

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
    const bool streamed = std::any_of(streams->begin(), streams->end(), [](const Stream& stream) {
        return stream.life == Stream::Life::Ready;
    });
    const std::string names = namesHeard();
    const std::vector<std::string> waiting = labelsWaiting();
    const std::int64_t now = steadyNanoseconds();
    for (Stream& stream : *streams) {
        // What the server had queued is gone: the clock stands where the sound stopped.
        if (stream.life == Stream::Life::Ready && stream.source)
            stream.source->holdClock(now, stream.rate);
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
                if (stream.life == Stream::Life::Renewing) remakeStream(stream);
            for (Stream& stream : *streams)
                if (stream.life == Stream::Life::Failed) {
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
    const bool needed = link == Link::Connecting || link == Link::Confirming ||
                        link == Link::Failed || link == Link::Waiting ||
                        (link == Link::Ready &&
                         (anySourcePlaying() || sinks.waiting() ||
                          std::any_of(streams->begin(), streams->end(), [](const Stream& stream) {
                              return stream.life == Stream::Life::Failed;
                          })));
    if (needed) armWatch(link == Link::Failed ? std::chrono::milliseconds::zero() : kWatchPeriod);
}

void PulseOutput::checkStalls(Clock::time_point now) {
    // The server asks for more every quarter of the buffer; one that has stopped asking while
    // it holds our audio may have stalled. A stream short of audio asks no more until it gets
    // some, so only a full one counts; a suspended one is asked for nothing.
    bool stalled = false;
    for (Stream& stream : *streams) {
        const bool expected =
            stream.life == Stream::Life::Ready && stream.source && !stream.corked &&
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
