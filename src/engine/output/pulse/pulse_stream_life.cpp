// One server stream's life: made at its sink's rate on its chosen device (or waiting for it),
// failed alone, made anew on another device or at another rate, closed.
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

void PulseOutput::openStream(Stream& stream) {
    if (!sinks.listed()) return;
    stream.device = chosenFor(stream.label);
    stream.life = Stream::Life::Closed;
    if (!stream.device.empty() && !sinks.has(stream.device)) {
        awaitDevice(stream);
        return;
    }
    if (!sinks.has(stream.movedTo)) stream.movedTo.clear();  // gone: back to the default
    // At its sink's rate: the server then passes the audio on as it is. Where the server puts
    // a stream that follows the default is known once it played there.
    const std::string& place = !stream.target().empty() ? stream.target() : stream.sink;
    stream.rate = sinks.rateOf(place);
    if (stream.rate <= 0) stream.rate = sinks.rateOf({});
    if (stream.rate <= 0) stream.rate = options.rate;
    stream.source->playAt(stream.rate);
    if (stream.kept.capacity() < historyFrames(stream.rate)) {
        // Sized once for the highest rate met: never in the write path.
        stream.kept.reserve(historyFrames(stream.rate));
        if (scratch.size() < stream.kept.capacity()) scratch.resize(stream.kept.capacity());
    }
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(stream.rate), 2};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    stream.title = stream.source->title();
    pa_proplist* properties = streamProperties(stream);
    // The name given here is the stream's media.name.
    stream.pa = pa_stream_new_with_proplist(context, mediaName(stream.label, stream.title).c_str(),
                                            &format, &map, properties);
    pa_proplist_free(properties);
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
    // The deck's gain is in the audio written: the stream's own volume stays full.
    stream.gain = stream.source->gain();
    stream.kept.restart(stream.gain);
    const DeckControl::Word word = stream.source->control();
    stream.life = Stream::Life::Making;
    stream.corked = !sounds(word.phase);
    stream.sounding = !stream.corked;
    stream.epoch = word.epoch;
    stream.lastUnheard = 0;
    stream.graphStep.forget();
    connectStream(stream, format);
}

pa_proplist* PulseOutput::streamProperties(const Stream& stream) const {
    pa_proplist* properties = pa_proplist_new();
    const std::string id = restoreId(options.appId, stream.label);
    // PipeWire remembers a stream by its role before anything else, which both decks share:
    // without one, each deck is remembered by an id of its own.
    if (sinks.onPipeWire())
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, id.c_str());
    else
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, mediaName(stream.label, stream.title).c_str());
    pa_proplist_sets(properties, "module-stream-restore.id", id.c_str());
    return properties;
}

void PulseOutput::connectStream(Stream& stream, const pa_sample_spec& format) {
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
    pa_cvolume volume;
    pa_cvolume_set(&volume, 2, PA_VOLUME_NORM);
    // No PA_STREAM_ADJUST_LATENCY: it reconfigures the sink's own latency, and a stream made
    // so on a server that had just started was never asked for more (PulseAudio 16). The
    // position counts the sink's latency anyway, and cork and flush rewind the sink.
    // A chosen device keeps the stream: where it goes away the server ends the stream rather
    // than move it to another device, where the room would hear what was meant for headphones.
    const auto flags =
        static_cast<pa_stream_flags_t>((stream.corked ? PA_STREAM_START_CORKED : 0) |
                                       (stream.device.empty() ? 0 : PA_STREAM_DONT_MOVE) |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    const std::string& target = stream.target();
    if (pa_stream_connect_playback(stream.pa, target.empty() ? nullptr : target.c_str(),
                                   &attributes, flags, &volume, nullptr) < 0) {
        failLink(pa_strerror(pa_context_errno(context)));
    }
}

void PulseOutput::closeStream(Stream& stream) {
    armTimer(stream.retry, std::chrono::milliseconds(-1));
    armTimer(stream.fadeDone, std::chrono::milliseconds(-1));
    stream.cut = Stream::Cut::None;
    stream.then = Stream::Then::Apply;
    stream.start = Stream::Start::None;
    stream.timed = 0;
    stream.life = Stream::Life::Closed;
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
    // Only from Ready, before the stream moves on: once, whatever follows.
    if (stream.life != Stream::Life::Ready || !stream.source) return;
    stream.source->holdClock(steadyNanoseconds(), stream.rate);
    if (!stream.sounding) return;
    stream.staleEpoch = stream.epoch;
    stream.staleUntil = Clock::now() + kStaleLimit;
}

void PulseOutput::dropStream(Stream& stream) {
    holdSource(stream);
    closeStream(stream);
}

void PulseOutput::failStream(Stream& stream) {
    holdSource(stream);
    stream.life = Stream::Life::Failed;
    stream.cut = Stream::Cut::None;
    stream.start = Stream::Start::None;
    armTimer(stream.retry, std::chrono::milliseconds(-1));
    armTimer(stream.fadeDone, std::chrono::milliseconds(-1));
    armWatch(std::chrono::milliseconds::zero());
}

void PulseOutput::remakeStream(Stream& stream) {
    dropStream(stream);
    if (stream.source) openStream(stream);
}

void PulseOutput::awaitDevice(Stream& stream) {
    stream.life = Stream::Life::Awaiting;
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
        if (stream.source && stream.device == name &&
            (stream.life == Stream::Life::Awaiting || stream.life == Stream::Life::Failed))
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

void PulseOutput::sinkRateChanged(const std::string& name) {
    // Each stream at its sink's rate: the server would resample those made at the old one.
    for (Stream& stream : *streams)
        if (stream.source && stream.life == Stream::Life::Ready && stream.sink == name &&
            sinks.rateOf(name) != stream.rate)
            renew(stream);
}

void PulseOutput::onStreamState(pa_stream* pa, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    PulseOutput& output = *stream.owner;
    switch (pa_stream_get_state(pa)) {
        case PA_STREAM_READY:
            // Sent elsewhere while the server made it: the watch makes it anew there.
            if (stream.life != Stream::Life::Making) break;
            if (output.offRate(stream)) break;  // never ready at a rate its sink does not run
            stream.life = Stream::Life::Ready;
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
                output.failStream(stream);
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
    renew(stream);
    return true;
}

void PulseOutput::renew(Stream& stream) {
    if (stream.life == Stream::Life::Ready &&
        (stream.cut != Stream::Cut::None || (stream.sounding && !stream.corked))) {
        // Its sound fades out first; the cut under way, if any, ends in the new stream.
        stream.then = Stream::Then::Renew;
        if (stream.cut != Stream::Cut::None) return;
        stream.cut = Stream::Cut::Timing;
        askTiming(stream, Timed::Fade);
        return;
    }
    renewNow(stream);
}

void PulseOutput::renewNow(Stream& stream) {
    // Goes on from where it was heard; the stream is made anew outside libpulse's callbacks.
    holdSource(stream);
    stream.life = Stream::Life::Renewing;
    armWatch(std::chrono::milliseconds::zero());
}

void PulseOutput::onMoved(pa_stream*, void* self) {
    // Moved by the server (a new default sink) or the user: made anew where the new sink runs
    // at another rate, going on from where it was heard.
    auto& stream = *static_cast<Stream*>(self);
    if (stream.life != Stream::Life::Ready) return;
    // Onto the default, it follows the default again; elsewhere, its remakes go there.
    const char* name = pa_stream_get_device_name(stream.pa);
    if (stream.device.empty() && name)
        stream.movedTo = stream.owner->sinks.isDefault(name) ? "" : name;
    stream.owner->offRate(stream);
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
