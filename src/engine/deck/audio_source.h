#pragma once

#include <cstdint>
#include <string>

#include "engine/deck/deck_control.h"
#include "engine/deck/stereo_frame.h"

// How the output asks for a source's frames.
struct MixTiming {
    // The steady clock (ns) when the output asked; 0 when it is driven by hand, without a clock.
    std::int64_t deviceTime = 0;
    // Frames the output holds that will sound before these: the server's queue.
    std::uint32_t queuedFrames = 0;
    // False where the output applies the source's gain itself, at once.
    bool applyGain = true;
    // True where the output fades out a cut of what it holds itself (it holds audio ahead).
    bool outputFadesCuts = false;
    // The rate the output plays these frames at: audio made for another is not given. 0 where
    // the output takes whatever comes.
    int rate = 0;
};

// Something the audio output plays: a deck.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // The output's side, one call at a time: its callback or main loop thread, or a thread
    // holding the output's lock (the pulse output fills from the UI thread under its main
    // loop's lock). Never blocks, allocates, locks, logs or touches a file. Adds the source's
    // next frames, at most `frames`, to out and returns how many it had. With frames == 0 it
    // only drops data it will never play.
    virtual int mixInto(StereoFrame* out, int frames, const MixTiming& timing) noexcept = 0;
    // The output's side, as mixInto: the output dropped the audio it held (its server or its
    // stream went away); the clock stands where the sound was heard last.
    virtual void holdClock(std::int64_t now, int rate) noexcept = 0;
    // The output's side, as mixInto: the sound server's own timing of what it has played. Of
    // the frames handed so far, `timing.queuedFrames` had not sounded at `timing.deviceTime`.
    virtual void retime(const MixTiming& timing) noexcept = 0;
    // The output's side, as mixInto: the rate it plays the source at from now on (its sink's),
    // so that the source makes its audio at that rate.
    virtual void playAt(int /*rate*/) noexcept {}
    // Any thread: whether the source has sound to play now, and its state.
    virtual bool isPlaying() const noexcept = 0;
    virtual DeckControl::Word control() const noexcept = 0;
    virtual float gain() const noexcept = 0;
    // Any thread but the output's callback: what the source is playing, for a report; "" when
    // it is not playing. Its label ("Deck 1") and its file's name ("" without one).
    virtual std::string playingName() const = 0;
    virtual std::string label() const = 0;
    virtual std::string title() const = 0;
};
