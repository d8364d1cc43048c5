// Every cut of sound that plays fades out over what the server holds, from a little after what
// was heard: a pause, a stop, a seek, a new file, another output, another rate; and a volume
// that jumps glides there.
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

void PulseOutput::apply(Stream& stream, bool faded) {
    if (stream.life != Stream::Life::Ready || !stream.source) return;
    const DeckControl::Word word = stream.source->control();
    const bool wanted = sounds(word.phase);
    // A new epoch (a seek, a step, a new file, stop) or a pause: what is queued is not to be
    // heard any more.
    const bool moved = word.epoch != stream.epoch;
    const bool halted =
        stream.sounding && (word.phase == Phase::Paused || word.phase == Phase::Stopped);
    updateProperties(stream);
    if (stream.cut != Stream::Cut::None) return;  // its end applies what came meanwhile
    if ((moved || halted) && stream.sounding && !stream.corked && !faded) {
        // Faded where the server's timing, asked afresh, says the sound stands.
        stream.cut = Stream::Cut::Timing;
        askTiming(stream, Timed::Fade);
        return;
    }
    // The fade of a new position played: its audio goes over the silence that followed.
    const bool overSilence = moved && wanted && faded;
    if ((moved || halted) && !overSilence) forget(pa_stream_flush(stream.pa, nullptr, nullptr));
    if (moved || halted) stream.kept.forget();
    if (moved) stream.staleEpoch.reset();
    stream.epoch = word.epoch;
    stream.sounding = wanted;
    if (wanted && (moved || stream.corked)) {
        // A stream that runs empty and is then given audio starts somewhere within it,
        // mid-swing: a corked one gets its first frames before it runs; a running one, whose
        // fade and silence the server holds, gets them over that silence, right after what
        // has been heard.
        stream.start = stream.corked ? Stream::Start::Corked : Stream::Start::OverSilence;
        stream.retryAfter = kRetrySoon;
        fill(stream, pa_stream_writable_size(stream.pa));
    } else if (!wanted) {
        // A start given up before its first frames: the next one begins with its own lead-in.
        stream.start = Stream::Start::None;
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
        if (stream.cut == Stream::Cut::None && !stream.corked &&
            audiblyApart(gain, stream.kept.rewritten()))
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

void PulseOutput::learnGraphStep(Stream& stream) const {
    if (!sinks.onPipeWire()) return;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream.pa);
    if (timing && !timing->read_index_corrupt) stream.graphStep.see(timing->read_index);
}

std::size_t PulseOutput::rewriteMargin(const Stream& stream) const {
    if (!sinks.onPipeWire()) return framesIn(kRewriteMargin, stream.rate);
    const std::int64_t learnt = stream.graphStep.bytes();
    const std::int64_t step =
        learnt > 0 ? learnt / static_cast<std::int64_t>(sizeof(StereoFrame)) : kLargestGraphStep;
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

bool PulseOutput::audiblyApart(float a, float b) {
    constexpr float kStep = 1.122f;  // 1 dB
    if (a <= 0.0f || b <= 0.0f) return a != b;
    return a > b * kStep || b > a * kStep;
}

PulseOutput::Rewritten PulseOutput::rewrite(Stream& stream, float gain, bool silence) {
    // Frames the server holds that have not been heard; all written since the flush, where its
    // timing is not known yet.
    const std::optional<std::uint32_t> unheard = unheardFrames(stream);
    const std::size_t before = unheard ? *unheard : stream.kept.count();
    const std::size_t held = std::min<std::size_t>(untaken(stream, before), stream.kept.count());
    const std::size_t margin = rewriteMargin(stream);
    const std::size_t fade = framesIn(kFade, stream.rate);
    const std::size_t frames = held > margin ? held - margin : 0;
    if (!silence)
        stream.kept.rewrite(frames, gain, fade, scratch.data());
    else if (frames > 0)
        stream.kept.fadeOut(frames, fade, scratch.data());
    if (frames == 0) return Rewritten::Nothing;  // the next frames glide to it
    stream.fadeMargin = before > frames ? before - frames : 0;
    if (silence) {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream.pa);
        const std::size_t after = frames - std::min(frames, fade);  // the silence after it
        stream.fadeEnd =
            timing ? timing->write_index - static_cast<std::int64_t>(after * sizeof(StereoFrame))
                   : 0;
        stream.fadeChecks = 0;
    }
    // Over what it holds, from a little after what was heard on: the write index stays where
    // it was, and the server plays the new frames in place of the old, at once.
    const auto bytes = static_cast<std::int64_t>(frames * sizeof(StereoFrame));
    return pa_stream_write(stream.pa, scratch.data(), static_cast<std::size_t>(bytes), nullptr,
                           -bytes, PA_SEEK_RELATIVE) == 0
               ? Rewritten::Written
               : Rewritten::Failed;
}

void PulseOutput::onFadeDone(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    stream.owner->wakeups.fetch_add(1, std::memory_order_relaxed);
    stream.owner->askTiming(stream, Timed::Faded);
}

void PulseOutput::askTiming(Stream& stream, Timed what) {
    const bool asked = stream.timed != 0;  // one request in flight answers them all
    stream.timed |= static_cast<unsigned>(what);
    if (asked) return;
    pa_operation* operation =
        pa_stream_update_timing_info(stream.pa, &PulseOutput::onTimed, &stream);
    if (!operation) {
        onTimed(stream.pa, 0, &stream);  // as well as it can without
        return;
    }
    forget(operation);
}

void PulseOutput::onTimed(pa_stream* pa, int, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    if (pa != stream.pa) return;
    PulseOutput& output = *stream.owner;
    output.learnGraphStep(stream);
    const unsigned what = std::exchange(stream.timed, 0u);
    if ((what & static_cast<unsigned>(Timed::Gain)) && stream.cut == Stream::Cut::None &&
        !stream.corked && output.rewrite(stream, stream.gain, false) == Rewritten::Failed) {
        output.failStream(stream);
        return;
    }
    if (what & static_cast<unsigned>(Timed::Fade)) {
        switch (output.rewrite(stream, 0.0f, true)) {
            case Rewritten::Written: {
                // Heard once what lies before it and the fade itself have played.
                stream.cut = Stream::Cut::Fading;
                const auto frames = stream.fadeMargin + framesIn(kFade, stream.rate);
                output.armTimer(stream.fadeDone, kFadeHeard + std::chrono::milliseconds(
                                                                  frames * 1000 / stream.rate));
                return;
            }
            case Rewritten::Failed:
                // Never a hard cut: the stream is made anew, from where it was heard.
                output.failStream(stream);
                return;
            case Rewritten::Nothing:
                break;
        }
    } else if (!(what & static_cast<unsigned>(Timed::Faded))) {
        return;
    } else if (!output.fadeTaken(stream)) {
        output.armTimer(stream.fadeDone, kFadeHeard);
        return;
    }
    // The fade has been heard, or there was next to nothing left to fade.
    stream.cut = Stream::Cut::None;
    if (std::exchange(stream.then, Stream::Then::Apply) == Stream::Then::Renew)
        output.renewNow(stream);
    else
        output.apply(stream, true);
}
