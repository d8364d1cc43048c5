// Feeding a stream: what the server asks for, the lead-in of a start, the new audio over the
// silence after a fade, the retries while the decoder is behind, a stale epoch held back, and
// the clock that follows the server's own timing.
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

void PulseOutput::onTiming(pa_stream*, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    if (stream.life != Stream::Life::Ready || !stream.source) return;
    stream.owner->learnGraphStep(stream);
    // The server's own timing: the clock counts what it has played, not what we wrote, and
    // stands still while the stream waits or its sink sleeps.
    if (const std::optional<std::uint32_t> unheard = stream.owner->unheardFrames(stream))
        stream.source->retime(MixTiming{steadyNanoseconds(), *unheard, false, true});
}

void PulseOutput::onWritable(pa_stream*, std::size_t bytes, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    stream.asks = std::min(stream.asks + 1, kSteadyAsks);
    stream.stall.progressed(Clock::now(), stream.asks >= kSteadyAsks);
    stream.owner->fill(stream, bytes);
}

void PulseOutput::keepAndApplyGain(Stream& stream, StereoFrame* frames, int count) {
    stream.kept.keep(frames, static_cast<std::size_t>(count), stream.gain,
                     1.0f / static_cast<float>(framesIn(kFade, stream.rate)));
}

bool PulseOutput::mayFill(Stream& stream) {
    using Start = Stream::Start;
    if (stream.life != Stream::Life::Ready || !stream.source || stream.cut != Stream::Cut::None)
        return false;
    if (stream.corked && stream.start != Start::Corked && stream.start != Start::LedIn)
        return false;
    if (stream.staleEpoch) {
        // The deck goes on from where it was heard with a new epoch: the old one's audio
        // ahead of that is not to be heard. A deck that does not follow is played on.
        if (stream.source->control().epoch == *stream.staleEpoch &&
            Clock::now() < stream.staleUntil) {
            armTimer(stream.retry, kRetrySoon);
            return false;
        }
        stream.staleEpoch.reset();
    }
    return true;
}

bool PulseOutput::writeLeadIn(Stream& stream) {
    // A stream that starts may begin a little within what it was given, where its sink's
    // rewind falls short: a moment of silence first keeps the fade-in whole.
    const std::size_t lead = framesIn(kRewriteMargin, stream.rate);
    std::fill_n(scratch.begin(), lead, StereoFrame{});
    keepAndApplyGain(stream, scratch.data(), static_cast<int>(lead));
    stream.start = Stream::Start::LedIn;
    return pa_stream_write(stream.pa, scratch.data(), lead * sizeof(StereoFrame), nullptr, 0,
                           PA_SEEK_RELATIVE) == 0;
}

PulseOutput::Fed PulseOutput::writeSource(Stream& stream, std::size_t wanted, std::size_t back,
                                          MixTiming timing) {
    Fed fed;
    while (wanted > 0) {
        void* data = nullptr;
        std::size_t size = wanted * sizeof(StereoFrame);
        if (pa_stream_begin_write(stream.pa, &data, &size) < 0) {
            fed.refused = true;
            break;
        }
        if (!data) break;
        const int frames = static_cast<int>(std::min(wanted, size / sizeof(StereoFrame)));
        auto* out = static_cast<StereoFrame*>(data);
        std::fill(out, out + frames, StereoFrame{});
        const int made = stream.source->mixInto(out, frames, timing);
        if (made <= 0) {
            pa_stream_cancel_write(stream.pa);
            fed.fellShort = true;
            break;
        }
        keepAndApplyGain(stream, out, made);
        if (pa_stream_write(stream.pa, data, static_cast<std::size_t>(made) * sizeof(StereoFrame),
                            nullptr, -static_cast<std::int64_t>(back * sizeof(StereoFrame)),
                            PA_SEEK_RELATIVE) < 0) {
            fed.refused = true;
            break;
        }
        back = 0;
        if (stream.start == Stream::Start::OverSilence) stream.start = Stream::Start::None;
        fed.written = true;
        wanted -= static_cast<std::size_t>(made);
        timing.queuedFrames += static_cast<std::uint32_t>(made);
        if (made < frames) {
            fed.fellShort = true;
            break;
        }
    }
    fed.missing = wanted;
    return fed;
}

void PulseOutput::fill(Stream& stream, std::size_t bytes) {
    if (!mayFill(stream)) return;
    std::size_t wanted = bytes / sizeof(StereoFrame);
    // Not known right after a flush: the new audio is held unheard as long as the whole
    // buffer would take, rather than taken as heard at once, until the server's timing
    // (onTiming) says when it sounds.
    const std::optional<std::uint32_t> unheard = unheardFrames(stream);
    MixTiming timing{steadyNanoseconds(),
                     unheard ? *unheard
                             : std::max(stream.lastUnheard,
                                        static_cast<std::uint32_t>(bufferFrames(stream.rate))),
                     false, true, stream.rate};
    // Over the silence after a fade, from a little after what has been heard.
    std::size_t back = 0;
    const std::size_t open = unheard ? untaken(stream, *unheard) : 0;
    const std::size_t restart =
        std::max(framesIn(kRestartMargin, stream.rate), rewriteMargin(stream));
    if (stream.start == Stream::Start::OverSilence && open > restart) {
        back = std::min<std::size_t>(open - restart, stream.kept.capacity());
        wanted += back;
        timing.queuedFrames = static_cast<std::uint32_t>(*unheard - back);
    }
    // A write the server refuses loses nothing: the stream is made anew, and the deck goes on
    // from where it was heard.
    const bool ledIn = stream.start != Stream::Start::Corked || writeLeadIn(stream);
    const Fed fed = ledIn ? writeSource(stream, wanted, back, timing) : Fed{.refused = true};
    if (fed.refused) {
        failStream(stream);
        return;
    }
    if (fed.written && stream.start == Stream::Start::LedIn) {
        stream.start = Stream::Start::None;
        setCorked(stream, false);
    }
    // The track's end is written (or the cued file has nothing yet): the server would wait
    // for its prebuffer before it plays, and a sound shorter than that would never be heard.
    const Phase phase = stream.source->control().phase;
    if (fed.fellShort && fed.written && (phase == Phase::Ended || phase == Phase::Cued))
        forget(pa_stream_trigger(stream.pa, nullptr, nullptr));
    // The decoder is behind (a new epoch's first frames, or a disk that does not answer):
    // come back for them, sooner while they flow.
    if (!fed.fellShort || fed.missing == 0 || !stream.source->isPlaying()) {
        stream.retryAfter = kRetrySoon;
        armTimer(stream.retry, std::chrono::milliseconds(-1));
        return;
    }
    if (fed.written) stream.retryAfter = kRetrySoon;
    armTimer(stream.retry, stream.retryAfter);
    stream.retryAfter = std::min(stream.retryAfter * 2, kRetryLongest);
}

void PulseOutput::onRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto& stream = *static_cast<Stream*>(self);
    stream.owner->wakeups.fetch_add(1, std::memory_order_relaxed);
    if (stream.life == Stream::Life::Ready)
        stream.owner->fill(stream, pa_stream_writable_size(stream.pa));
}

std::size_t PulseOutput::bufferFrames(int rate) const {
    return static_cast<std::size_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(options.buffer).count() * rate /
        1000000);
}

std::size_t PulseOutput::historyFrames(int rate) const {
    return bufferFrames(rate) * 2 + static_cast<std::size_t>(rate) / 5;
}
