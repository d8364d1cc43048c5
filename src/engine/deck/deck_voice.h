#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "engine/deck/audio_source.h"
#include "engine/deck/deck_control.h"
#include "engine/deck/deck_stream.h"

// The audio callback's side of one deck: plays the stream's current epoch with each file's
// level and, unless the output applies it, the deck's volume.
class DeckVoice final : public AudioSource {
public:
    explicit DeckVoice(DeckStream& stream, std::string label = "Deck")
        : stream(stream), side(stream.outputSide()), label_(std::move(label)) {}

    // The output's side (its callback, or a thread under its lock; see AudioSource): no
    // locks, no allocation, no I/O.
    int mixInto(StereoFrame* out, int frames, const MixTiming& timing) noexcept override;
    void holdClock(std::int64_t now, int rate) noexcept override;
    void retime(const MixTiming& timing) noexcept override;
    void playAt(int rate) noexcept override { side.setOutputRate(rate); }
    bool isPlaying() const noexcept override;
    DeckControl::Word control() const noexcept override { return stream.control(); }
    float gain() const noexcept override { return stream.gain(); }
    std::string playingName() const override;
    std::string label() const override { return label_; }
    std::string title() const override;

    // Sound that starts from silence (a play, a resume, the new position after a step or a new
    // file) rises over these frames, about 5 ms, and a cut of sound that plays falls over as
    // many, unless the output fades cuts itself: a start or an end mid-swing would click.
    static constexpr int kFadeFrames = 240;

private:
    // A buffer's gain, from the last buffer's to the one set, a step a frame.
    struct Ramp {
        float from;
        float step;
    };
    enum class Crossing { Onward, Over };  // the cued file sounds on; the track has ended

    // The output's side only. Adds the ring's frames from `read` up to `limit` into `out` from
    // `done` on, at the volume's and the level's ramps; both move on.
    void playUpTo(std::uint64_t limit, const Ramp& ramp, const Ramp& level, StereoFrame* out,
                  std::uint64_t& read, int& done) noexcept;
    // The output's side only. At the end of the track `control` plays, which lies at `end`:
    // Cued where the UI played it and the cued file follows, else Ended; `control` is the
    // word after the change (or a command's that came in between).
    Crossing crossEnd(DeckControl::Word& control, std::uint64_t end) noexcept;
    // The output's side only. A pause, a stop or a new epoch while the last buffer sounded: the
    // next frames of what played, fading out, into `out`; how many.
    int fadeOutCut(StereoFrame* out, int frames, const DeckControl::Word& control,
                   const DeckStream::ReadableRange& range, const MixTiming& timing) noexcept;
    // Gives back the ring up to `read`; wakes the decoder when that takes the fill below the
    // refill mark.
    void releaseTo(std::uint64_t read, std::uint64_t write) noexcept;

    const DeckStream& stream;
    DeckStream::OutputSide side;
    const std::string label_;
    // Audio thread only.
    float appliedGain = 1.0f;
    float appliedLevel = 1.0f;        // the level the last frame played was given
    bool sounding = false;            // the last buffer played this deck
    std::uint32_t soundedEpoch = 0;   // the epoch it played
    int fadedIn = kFadeFrames;        // frames of the fade-in played
    std::uint64_t cuedAt = ~0ull;     // ring index where the cued file began, while Cued
    std::uint64_t passedEnd = ~0ull;  // the end mark the cued file went on behind
};
