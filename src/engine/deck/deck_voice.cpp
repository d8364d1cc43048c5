#include "engine/deck/deck_voice.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "engine/deck/deck_stream.h"

namespace {
using Phase = DeckControl::Phase;
using Word = DeckControl::Word;

// Frames a cued file may sound before the UI adopts it: the tick adopts within 10 ms; past
// this the watch is not going to, and the deck falls silent.
constexpr std::uint64_t kAdoptionFrames = 24000;
}  // namespace

int DeckVoice::mixInto(StereoFrame* out, int frames, const MixTiming& timing) noexcept {
    Word control = stream.control();
    const DeckStream::ReadableRange range = stream.readableRange(control.epoch);
    std::uint64_t read = range.read;
    // Before the stale data goes: its next frames carry the fade of a cut.
    const int faded = timing.outputFadesCuts ? 0 : fadeOutCut(out, frames, control, range, timing);
    out += faded;
    frames -= faded;
    releaseTo(read, range.write);  // stale data
    if (!range.current) return faded;
    if ((control.phase != Phase::Playing && control.phase != Phase::Cued) || frames == 0) {
        // Silent now: the next sound starts at the gain set, without a ramp from an old one.
        if (frames > 0) sounding = false;
        return faded;
    }
    // Made for another rate, it would sound at another pitch: it waits for the deck to make
    // its audio anew at the output's rate.
    if (timing.rate != 0 && stream.rateOf(control.epoch) != timing.rate) return faded;
    // Ramp to a new gain across one buffer: heard within it, without a click.
    const float to = timing.applyGain ? stream.gain() : 1.0f;
    const float from = sounding ? appliedGain : to;
    // Each file's frames at its own level, whoever applies the volume: the cued file's from its
    // first frame on, never the end of the track before it.
    const DeckStream::Levels levels = stream.levels();
    const float levelTo = control.phase == Phase::Cued ? levels.cued : levels.playing;
    Ramp level{sounding ? appliedLevel : levelTo, 0.0f};
    level.step = (levelTo - level.from) / static_cast<float>(frames);
    // A new epoch always follows a cut, whatever the output did with the old one's tail; a
    // track that runs on into the cued file keeps its epoch and is not faded.
    if (!sounding || control.epoch != soundedEpoch) fadedIn = 0;
    sounding = true;
    soundedEpoch = control.epoch;
    const Ramp ramp{from, (to - from) / static_cast<float>(frames)};
    const std::uint64_t first = read;
    int done = 0;
    bool over = false;
    while (done < frames && !over) {
        std::uint64_t limit = std::min<std::uint64_t>(range.write, read + (frames - done));
        // A track that ends within reach: play up to its end, then see what follows. Not the
        // end the cued file already follows: once the UI has taken that file up, the read may
        // still stand at its boundary, waiting for the file's first frames.
        const std::uint64_t end = stream.endMark();
        const bool endAhead =
            DeckStream::endWithin(end, control.epoch, read, limit) && end != passedEnd;
        if (endAhead) limit = read + DeckStream::distance(read, DeckStream::indexOf(end));
        playUpTo(limit, ramp, level, out, read, done);
        if (!endAhead) break;
        const Crossing crossing = crossEnd(control, end);
        if (crossing == Crossing::Onward) level = Ramp{levels.cued, 0.0f};
        // Nothing more of the epoch at the very boundary yet: wait, the cued file follows.
        if (crossing == Crossing::Onward && read == range.write) break;
        over = crossing == Crossing::Over;
    }
    // A cued file the UI has not taken up for a while is not going to be.
    if (control.phase == Phase::Cued &&
        DeckStream::distance(cuedAt, read) > static_cast<std::int64_t>(kAdoptionFrames))
        side.endTrack([&](Word now) -> std::optional<Word> {
            if (now != control) return std::nullopt;
            return Word{now.epoch, Phase::Ended};
        });
    appliedGain = to;
    appliedLevel = level.from + level.step * static_cast<float>(frames);
    releaseTo(read, range.write);
    if (read != first)
        side.recordPlayed({DeckStream::mark(control.epoch, read),
                           static_cast<std::uint32_t>(read - first) + timing.queuedFrames,
                           timing.deviceTime});
    if (done < frames && !over) side.countUnderrun(static_cast<std::uint64_t>(frames - done));
    return faded + done;
}

int DeckVoice::fadeOutCut(StereoFrame* out, int frames, const Word& control,
                          const DeckStream::ReadableRange& range,
                          const MixTiming& timing) noexcept {
    if (!sounding || frames <= 0) return 0;
    const bool moved = control.epoch != soundedEpoch;
    const bool halted = control.phase == Phase::Paused || control.phase == Phase::Stopped;
    if (!moved && !halted) return 0;
    // A new epoch: the old one's frames from where the last buffer stopped. A pause: the
    // frames it will resume with, played faded and not used up.
    const std::uint64_t from = moved ? side.readIndex() : range.read;
    const std::uint64_t until = moved ? range.read : range.write;
    const int count = static_cast<int>(
        std::min<std::uint64_t>({static_cast<std::uint64_t>(kFadeFrames),
                                 static_cast<std::uint64_t>(frames), until - from}));
    const float gain = (timing.applyGain ? appliedGain : 1.0f) * appliedLevel;
    for (int i = 0; i < count; ++i) {
        const float g = gain * (1.0f - static_cast<float>(i + 1) / static_cast<float>(kFadeFrames));
        const StereoFrame& frame = side.frameAt(from + static_cast<std::uint64_t>(i));
        out[i].left += frame.left * g;
        out[i].right += frame.right * g;
    }
    sounding = false;  // what follows starts from silence
    return count;
}

void DeckVoice::holdClock(std::int64_t now, int rate) noexcept {
    const PlayClock::Reading reading = stream.played();
    if (reading.atNanoseconds == 0) return;
    // Where the sound stood at `now`: the reading's buffer counted out as it was heard.
    const double elapsed = reading.framesUntil(now, rate);
    const auto unheard = static_cast<std::uint64_t>(
        static_cast<double>(reading.frames) - std::clamp(elapsed, 0.0, double(reading.frames)));
    const std::uint64_t index = DeckStream::indexOf(reading.playedMark) - unheard;
    side.recordPlayed({DeckStream::mark(DeckStream::epochOf(reading.playedMark), index), 0, now});
    side.markDropped(DeckStream::epochOf(reading.playedMark));
}

void DeckVoice::retime(const MixTiming& timing) noexcept {
    PlayClock::Reading reading = stream.played();
    if (reading.atNanoseconds == 0 || timing.deviceTime == 0) return;
    reading.frames = timing.queuedFrames;
    reading.atNanoseconds = timing.deviceTime;
    side.recordPlayed(reading);
}

void DeckVoice::playUpTo(std::uint64_t limit, const Ramp& ramp, const Ramp& level, StereoFrame* out,
                         std::uint64_t& read, int& done) noexcept {
    for (; read < limit; ++read, ++done) {
        const auto at = static_cast<float>(done + 1);
        float g = (ramp.from + ramp.step * at) * (level.from + level.step * at);
        if (fadedIn < kFadeFrames)
            g *= static_cast<float>(++fadedIn) / static_cast<float>(kFadeFrames);
        const StereoFrame& frame = side.frameAt(read);
        out[done].left += frame.left * g;
        out[done].right += frame.right * g;
    }
}

DeckVoice::Crossing DeckVoice::crossEnd(Word& control, std::uint64_t end) noexcept {
    // The cued file goes on only behind a track the UI played, not behind one it has not
    // taken up yet.
    const bool onward = control.phase == Phase::Playing && stream.continuation() == end;
    control = side.endTrack([&](Word now) -> std::optional<Word> {
        if (now.epoch != control.epoch || now.phase != control.phase) return std::nullopt;
        if (onward) return Word{now.epoch, Phase::Cued};
        return Word{now.epoch, Phase::Ended};
    });
    if (control.phase != Phase::Cued || !onward) return Crossing::Over;  // or a command came
    cuedAt = DeckStream::indexOf(end);
    passedEnd = end;
    return Crossing::Onward;
}

void DeckVoice::releaseTo(std::uint64_t read, std::uint64_t write) noexcept {
    const std::uint64_t before = side.readIndex();
    if (read == before) return;
    side.releaseTo(read);
    if (write - before >= DeckStream::kRefillMark && write - read < DeckStream::kRefillMark)
        side.wakeDecoder();
}

bool DeckVoice::isPlaying() const noexcept {
    // A cued file sounds on behind the track that ended.
    const Phase phase = stream.control().phase;
    return phase == Phase::Playing || phase == Phase::Cued;
}

std::string DeckVoice::title() const {
    return std::filesystem::path(stream.path()).filename().string();
}

std::string DeckVoice::playingName() const {
    return isPlaying() ? stream.path() : std::string();
}
