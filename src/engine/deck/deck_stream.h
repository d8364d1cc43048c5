#pragma once

#include <atomic>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "engine/deck/deck_control.h"
#include "engine/deck/locked_text.h"
#include "engine/deck/play_clock.h"
#include "engine/deck/spsc_ring.h"
#include "engine/deck/stereo_frame.h"
#include "engine/deck/wake_signal.h"

// What the three threads of one deck share: the UI thread (Mp3Deck), the decoder thread
// (DecoderWorker, with its short-lived length scanner) and the audio callback (DeckVoice).
// "The callback" below is the output's side, one caller at a time: SDL's callback, or the
// pulse output's main loop thread, or the UI thread while it holds that loop's lock.
//
// Epochs. Every command that moves the playing position (a new file, stop, a step, a restart
// after the end) starts a new epoch. The decoder seeks, marks in `segment` the ring index
// where its data for that epoch begins, and writes the data behind the mark. The callback
// plays only data of the epoch in `control`: whatever lies before that epoch's mark is stale
// and dropped. So no thread ever waits for another to flush the ring.
//
// Who writes what. Every thread may read everything through the const readers; each writes
// only through its own side (DecoderSide, OutputSide, UiSide), which offers just these:
//   ring          decoder produces, callback consumes (SpscRing's own protocol).
//   control       UI: any change, always through DeckControl::change. Callback: Playing ->
//                 Ended or Cued, Cued -> Ended, and nothing else. The decoder never looks at
//                 it.
//   segment       decoder: (epoch, index where its data begins), once per epoch, before any
//                 frame of the epoch is written.
//   endMark       decoder: (epoch, index one past its last frame), once that frame is
//                 published. Within an epoch a later track may end at a later index.
//   continuation  decoder: (epoch, index) when the cued next file's data follows the track
//                 that ends there, stored before that endMark and before any frame of the
//                 next file. The UI reads the index as the next file's start when it adopts it.
//   clock         callback: (epoch, ring index up to which it has played), the frames of the
//                 buffer and its time, after each buffer it played (PlayClock's protocol).
//   track         UI: bumped on every new file (or retry); the decoder gives up an open, and
//                 the scanner a scan, of an older one.
//   exactLength   scanner: (track, frames of the file) once a scan is done; decoder: the same
//                 once it decoded to the end (the truth, whatever a header said).
//   gain          UI: the deck's volume; the callback ramps to it (or the output applies it).
//   levels        UI: the levelling gain of the file that plays and of the cued file, one
//                 word, so that the callback gives each file's frames its own level from the
//                 first frame: the cued file's once it plays on behind the track's end, until
//                 the UI takes it up (it stores the level first, then leaves Cued).
//   outputRate    output (whichever thread makes the deck's stream or adds it to a device):
//                 the rate it plays the deck at, its sink's; 0 until it says. The UI reads it
//                 for each new epoch.
//   epochRate     UI: (epoch, rate its audio is made at), stored before the control word names
//                 the epoch. The callback plays an epoch only into an output of that rate.
//   path          UI, with each new file; the output's keeper reads it to name what was
//                 playing when the sound went away. Behind a mutex: the callback never reads it.
//   underruns     callback; diagnostics only.
//   dropped       output's thread: the output dropped what it had queued of the epoch named
//                 (its server went away), so the deck resumes from where it was heard; the
//                 UI takes it.
//   wake          posted by the UI after each order to the decoder, and by the callback when
//                 the ring's fill falls below kRefillMark; the decoder sleeps on it whenever
//                 it has nothing to do (the ring full, or no data to make), so it never polls.
//
// Orderings that carry weight:
//   - The ring's write index is released by the decoder and acquired by the callback, so the
//     frames below it are visible. The decoder stores `segment` (release) before writing the
//     epoch's first frame, so a callback that acquired a write index covering that frame
//     cannot read an older segment: it either finds the mark at or below the index (frames
//     from the mark on are the epoch's) or beyond it (nothing below the index is).
//   - `endMark` is released after its last frame is published: a callback that has played up
//     to the mark knows the track is over, not starved. `continuation` is released before
//     the endMark it continues, so a callback that acquired the end also sees whether the
//     next file follows; if not, the track has ended for good.
//   - The UI changes `control` to the new epoch before it hands the command to the decoder, so
//     the decoder can never publish data of an epoch that the control word does not yet name
//     and that the callback would drop as stale.
//   - `exactLength` is released by its writer and acquired by the UI: one word carrying its
//     own track, so a stale value is recognised, never mixed; the clock likewise carries its
//     epoch.
//   - `epochRate` is released before the control word names its epoch: a callback that
//     acquired the word finds that epoch's rate, or a newer epoch's (then it waits).
//   - `levels` is stored before the control word changes from Cued to Playing, and the
//     callback reads it after the word: a word that has left Cued comes with the taken-up
//     file's level.
//   - `gain`, `track`, `underruns`, `outputRate` are relaxed: lone values with nothing hanging
//     off them.
class DeckStream {
public:
    class DecoderSide;
    class OutputSide;
    class UiSide;

    // About 680 ms at 48 kHz: room for a slow disk or a busy machine. Latency does not depend
    // on it: pause, volume and seeks act where the callback reads.
    static constexpr std::size_t kRingFrames = 32768;
    // Below this fill the decoder is woken: half the ring is a worthwhile chunk to decode, and
    // the other half (340 ms) leaves the woken thread time to be scheduled on a loaded machine.
    static constexpr std::uint64_t kRefillMark = kRingFrames / 2;

    // Marks pack a 24-bit epoch (or track) with a 40-bit ring index or count, so that one load
    // gives both (40 bits of frames last 265 days at 48 kHz).
    static constexpr std::uint64_t kIndexMask = (1ull << 40) - 1;
    static std::uint64_t mark(std::uint32_t epoch, std::uint64_t index) {
        return (static_cast<std::uint64_t>(epoch & DeckControl::kEpochMask) << 40) |
               (index & kIndexMask);
    }
    static std::uint32_t epochOf(std::uint64_t mark) {
        return static_cast<std::uint32_t>(mark >> 40);
    }
    static std::uint64_t indexOf(std::uint64_t mark) { return mark & kIndexMask; }
    // Frames from `from` to `to` on the 40-bit circle; negative when `to` lies before `from`.
    static std::int64_t distance(std::uint64_t from, std::uint64_t to);
    // The end mark `end` belongs to `epoch` and lies from `from` to `to`: the track ends
    // within that reach of the ring.
    static bool endWithin(std::uint64_t end, std::uint32_t epoch, std::uint64_t from,
                          std::uint64_t to) {
        return epochOf(end) == epoch && distance(from, indexOf(end)) >= 0 &&
               distance(indexOf(end), to) >= 0;
    }

    // The part of the ring that holds data of `epoch`, as the consumer sees it now.
    struct ReadableRange {
        bool current = false;     // the epoch's mark is known and lies within the data published
        std::uint64_t read = 0;   // where the consumer's read index belongs (stale data dropped)
        std::uint64_t write = 0;  // one past the last frame published
    };
    // Consumer side (the callback, or a test that drives the output by hand). Reads only:
    // the caller releases the ring up to `read`.
    ReadableRange readableRange(std::uint32_t epoch) const noexcept;

    // Readers, for any thread (the orderings above).
    DeckControl::Word control() const noexcept { return control_.load(std::memory_order_acquire); }
    std::uint64_t segment() const noexcept { return segment_.load(std::memory_order_acquire); }
    std::uint64_t endMark() const noexcept { return endMark_.load(std::memory_order_acquire); }
    std::uint64_t continuation() const noexcept {
        return continuation_.load(std::memory_order_acquire);
    }
    PlayClock::Reading played() const noexcept { return clock_.read(); }
    bool wants(std::uint32_t track) const noexcept {
        return track_.load(std::memory_order_relaxed) == track;
    }
    std::uint64_t exactLength() const noexcept {
        return exactLength_.load(std::memory_order_acquire);
    }
    float gain() const noexcept { return gain_.load(std::memory_order_relaxed); }
    struct Levels {
        float playing = 1.0f;  // the file the UI has taken up
        float cued = 1.0f;     // the file cued behind it
    };
    Levels levels() const noexcept {
        const std::uint64_t both = levels_.load(std::memory_order_relaxed);
        return {std::bit_cast<float>(static_cast<std::uint32_t>(both >> 32)),
                std::bit_cast<float>(static_cast<std::uint32_t>(both))};
    }
    int outputRate() const noexcept { return outputRate_.load(std::memory_order_relaxed); }
    // The rate `epoch`'s audio is made at; 0 when a newer epoch has been started.
    int rateOf(std::uint32_t epoch) const noexcept {
        const std::uint64_t value = epochRate_.load(std::memory_order_acquire);
        return epochOf(value) == (epoch & DeckControl::kEpochMask)
                   ? static_cast<int>(indexOf(value))
                   : 0;
    }
    std::string path() const { return path_.get(); }  // not for the callback: a mutex
    std::uint64_t underruns() const noexcept { return underruns_.load(std::memory_order_relaxed); }
    // The epoch whose queued audio the output dropped, if it did since the UI last took it.
    std::optional<std::uint32_t> droppedEpoch() const noexcept {
        const std::uint64_t value = dropped_.load(std::memory_order_acquire);
        if (value == kNoDrop) return std::nullopt;
        return static_cast<std::uint32_t>(value);
    }
    std::uint64_t publishedWriteIndex() const noexcept { return ring_.publishedWriteIndex(); }

    // The sides, handed out by the deck that owns the stream to the part on each thread.
    DecoderSide decoderSide() noexcept;
    OutputSide outputSide() noexcept;
    UiSide uiSide() noexcept;

private:
    SpscRing<StereoFrame> ring_{kRingFrames};
    DeckControl control_;
    std::atomic<std::uint64_t> segment_{0};
    std::atomic<std::uint64_t> endMark_{~0ull};
    std::atomic<std::uint64_t> continuation_{~0ull};
    PlayClock clock_;
    std::atomic<std::uint32_t> track_{0};
    std::atomic<std::uint64_t> exactLength_{0};
    std::atomic<float> gain_{1.0f};
    static std::uint64_t pack(Levels levels) noexcept {
        return (static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(levels.playing)) << 32) |
               std::bit_cast<std::uint32_t>(levels.cued);
    }
    std::atomic<std::uint64_t> levels_{pack({})};
    std::atomic<int> outputRate_{0};
    std::atomic<std::uint64_t> epochRate_{0};
    LockedText path_;
    std::atomic<std::uint64_t> underruns_{0};
    static constexpr std::uint64_t kNoDrop = ~0ull;
    std::atomic<std::uint64_t> dropped_{kNoDrop};
    WakeSignal wake_;

    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
    static_assert(std::atomic<float>::is_always_lock_free);
};

// The decoder thread (and its length scanner): the ring's producer and the marks.
class DeckStream::DecoderSide {
public:
    std::uint64_t writeIndex() const noexcept { return s->ring_.writeIndex(); }
    std::size_t writable() const noexcept { return s->ring_.writable(); }
    std::size_t write(std::span<const StereoFrame> frames) { return s->ring_.write(frames); }
    // Before any frame of the epoch is written.
    void markSegment(std::uint32_t epoch, std::uint64_t index) noexcept {
        s->segment_.store(mark(epoch, index), std::memory_order_release);
    }
    // Once the track's last frame is published: the end lies at the write index.
    void markEnd(std::uint32_t epoch) noexcept {
        s->endMark_.store(mark(epoch, s->ring_.writeIndex()), std::memory_order_release);
    }
    // Before the end it continues and before any frame of the next file.
    void markContinuation(std::uint32_t epoch, std::uint64_t index) noexcept {
        s->continuation_.store(mark(epoch, index), std::memory_order_release);
    }
    void setExactLength(std::uint32_t track, std::uint64_t frames) noexcept {
        s->exactLength_.store(mark(track, frames), std::memory_order_release);
    }
    void sleep() noexcept { s->wake_.wait(); }  // until the UI orders or the callback drains

private:
    friend class DeckStream;
    explicit DecoderSide(DeckStream& stream) : s(&stream) {}
    DeckStream* s;
};

// The audio callback: the ring's consumer, the callback's steps of the control word (Playing
// -> Ended or Cued, Cued -> Ended), the clock and the underrun count.
class DeckStream::OutputSide {
public:
    const StereoFrame& frameAt(std::uint64_t index) const noexcept { return s->ring_.at(index); }
    std::uint64_t readIndex() const noexcept { return s->ring_.readIndex(); }
    void releaseTo(std::uint64_t index) noexcept { s->ring_.releaseTo(index); }
    template <typename Next>
    DeckControl::Word endTrack(Next next) noexcept {
        return s->control_.change([&](DeckControl::Word now) {
            const std::optional<DeckControl::Word> wanted = next(now);
            assert(!wanted || wanted->phase == DeckControl::Phase::Ended ||
                   (wanted->phase == DeckControl::Phase::Cued &&
                    now.phase == DeckControl::Phase::Playing));
            return wanted;
        });
    }
    void recordPlayed(const PlayClock::Reading& reading) noexcept { s->clock_.record(reading); }
    void countUnderrun(std::uint64_t frames) noexcept {
        s->underruns_.fetch_add(frames, std::memory_order_relaxed);
    }
    // After the clock's last record: the UI that sees the epoch sees where it was heard.
    void markDropped(std::uint32_t epoch) noexcept {
        s->dropped_.store(epoch, std::memory_order_release);
    }
    void wakeDecoder() noexcept { s->wake_.post(); }
    void setOutputRate(int rate) noexcept { s->outputRate_.store(rate, std::memory_order_relaxed); }

private:
    friend class DeckStream;
    explicit OutputSide(DeckStream& stream) : s(&stream) {}
    DeckStream* s;
};

// The UI thread: every other change of the control word, the track, the path and the gain.
class DeckStream::UiSide {
public:
    template <typename Next>
    DeckControl::Word changeControl(Next next) noexcept {
        return s->control_.change(next);
    }
    void setTrack(std::uint32_t track) noexcept {
        s->track_.store(track, std::memory_order_relaxed);
    }
    // No file is wanted any more: an open or a scan under way gives up.
    void abandonTrack() noexcept { s->track_.fetch_add(1, std::memory_order_relaxed); }
    void setPath(std::string path) { s->path_.set(std::move(path)); }
    void setGain(float gain) noexcept { s->gain_.store(gain, std::memory_order_relaxed); }
    // Before the control word leaves Cued for the file taken up, whose level this is.
    void setLevels(Levels levels) noexcept {
        s->levels_.store(pack(levels), std::memory_order_relaxed);
    }
    // Before the control word names `epoch`.
    void setEpochRate(std::uint32_t epoch, int rate) noexcept {
        s->epochRate_.store(mark(epoch, static_cast<std::uint64_t>(rate)),
                            std::memory_order_release);
    }
    void forgetDropped() noexcept { s->dropped_.store(kNoDrop, std::memory_order_relaxed); }
    void wakeDecoder() noexcept { s->wake_.post(); }

private:
    friend class DeckStream;
    explicit UiSide(DeckStream& stream) : s(&stream) {}
    DeckStream* s;
};

inline DeckStream::DecoderSide DeckStream::decoderSide() noexcept {
    return DecoderSide(*this);
}
inline DeckStream::OutputSide DeckStream::outputSide() noexcept {
    return OutputSide(*this);
}
inline DeckStream::UiSide DeckStream::uiSide() noexcept {
    return UiSide(*this);
}
