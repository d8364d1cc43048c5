#include "components/deck_voice.h"

#include <algorithm>
#include <optional>

#include "components/deck_stream.h"

namespace {
using Phase = DeckControl::Phase;
using Word = DeckControl::Word;
}  // namespace

void DeckVoice::mixInto(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept {
    const Word control = stream.control.load(std::memory_order_acquire);
    const DeckStream::ReadableRange range = stream.readableRange(control.epoch);
    std::uint64_t read = range.read;
    releaseTo(read, range.write);  // stale data
    if (!range.current) return;
    if (control.phase != Phase::Playing || frames == 0) {
        // Silent now: the next sound starts at the gain set, without a ramp from an old one.
        if (frames > 0) sounding = false;
        return;
    }
    const int n = static_cast<int>(std::min<std::uint64_t>(range.write - read, frames));
    // Ramp to a new gain across one buffer: heard within it, without a click.
    const float to = stream.gain.load(std::memory_order_relaxed);
    const float from = sounding ? appliedGain : to;
    sounding = true;
    const float step = (to - from) / static_cast<float>(frames);
    for (int i = 0; i < n; ++i) {
        const float g = from + step * static_cast<float>(i + 1);
        const StereoFrame& frame = stream.ring.at(read + i);
        out[i].left += frame.left * g;
        out[i].right += frame.right * g;
    }
    appliedGain = to;
    read += static_cast<std::uint64_t>(n);
    releaseTo(read, range.write);
    stream.clock.record(
        {DeckStream::mark(control.epoch, read), static_cast<std::uint32_t>(n), deviceTime});
    if (n == frames) return;
    const std::uint64_t end = stream.endMark.load(std::memory_order_acquire);
    if (DeckStream::epochOf(end) == control.epoch &&
        DeckStream::indexOf(end) == (read & DeckStream::kIndexMask)) {
        stream.control.change([&](Word now) -> std::optional<Word> {
            if (now != Word{control.epoch, Phase::Playing}) return std::nullopt;
            return Word{control.epoch, Phase::Ended};
        });
    } else {
        stream.underruns.fetch_add(static_cast<std::uint64_t>(frames - n),
                                   std::memory_order_relaxed);
    }
}

void DeckVoice::releaseTo(std::uint64_t read, std::uint64_t write) noexcept {
    const std::uint64_t before = stream.ring.readIndex();
    if (read == before) return;
    stream.ring.releaseTo(read);
    if (write - before >= DeckStream::kRefillMark && write - read < DeckStream::kRefillMark)
        stream.wake.post();
}

void DeckVoice::outputLost() noexcept {
    bool wasPlaying = false;
    stream.control.change([&](Word now) -> std::optional<Word> {
        wasPlaying = now.phase == Phase::Playing;
        if (!wasPlaying) return std::nullopt;
        return Word{now.epoch, Phase::Ended};
    });
    if (wasPlaying) {
        stream.outputLost.store(true, std::memory_order_release);
        stream.wake.post();
    }
}
