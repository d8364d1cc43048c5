#pragma once

// What the parts of the pulse output share, and theirs alone: the timings, and one server
// stream's state. Not for the decks: they see PulseOutput.

#include <pulse/pulseaudio.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "components/window_waits.h"
#include "engine/deck/audio_source.h"
#include "engine/deck/deck_control.h"
#include "engine/output/pulse/graph_step.h"
#include "engine/output/pulse/held_audio.h"
#include "engine/output/pulse/pulse_output.h"
#include "engine/output/stall_rule.h"

namespace pulse_parts {

using Clock = std::chrono::steady_clock;
using Phase = DeckControl::Phase;

// How soon a stream that had nothing to write is tried again: the decoder makes a second of
// sound in a few milliseconds, so a new epoch's first frames come within one or two of these.
// Each try that finds nothing waits twice as long, up to kRetryLongest: a deck whose disk does
// not answer costs a few wakeups a second, not hundreds.
inline constexpr std::chrono::milliseconds kRetrySoon{4};
inline constexpr std::chrono::milliseconds kRetryLongest{250};
inline constexpr std::chrono::milliseconds kWatchPeriod{250};
// A new stream may wait for a server that has just started or thawed, with our first buffer in
// it, for a second or two; once it has asked for more after that buffer, it asks steadily.
inline constexpr std::chrono::seconds kStartLimit{5};
inline constexpr int kSteadyAsks = 2;
inline constexpr auto kNever = Clock::time_point::max();
// A deck told its audio was dropped goes on with a new epoch at its next tick, which comes as
// late as the window may wait on a disk, and later on a busy machine. One that has not followed
// by then is not going to, and what it has is played: before that, the old epoch played on
// would be a skip, and the new one, from where it was heard, a repeat.
inline constexpr auto kStaleLimit = kLongestWindowWait + std::chrono::milliseconds(250);
// A cut of sound that plays fades out over this span, written into what the server holds, from
// a little after what has been heard: the server takes back what its sink has not played yet,
// so the fade is heard at once, and only then is the stream corked or flushed. A jump of the
// gain glides over as long.
inline constexpr std::chrono::microseconds kFade{5000};
// How far the server's estimate of what was heard may be off, and how far short of it its
// sink's rewind may fall: 2 ms on PulseAudio. PipeWire's pulse server takes a whole step of
// its graph at once, so that what it took since its last timing is only estimated: there the
// margin is that step (learnt from the server's read index; its largest, 2048 frames, until
// known) and 3 ms more.
inline constexpr std::chrono::microseconds kRewriteMargin{2000};
inline constexpr std::chrono::microseconds kPipeWireStepMargin{3000};
inline constexpr std::int64_t kLargestGraphStep = 2048;  // frames
// PipeWire: how often the server is asked whether it has taken a fade, kFadeHeard apart.
inline constexpr int kFadeChecks = 30;
// The new audio after a cut's fade starts further off: it waits for the fade anyway, and the
// server's own span then covers a late answer of ours.
inline constexpr std::chrono::microseconds kRestartMargin{10000};

// Frames of `span` at `rate`: the spans above hold at every sink's rate.
inline std::size_t framesIn(std::chrono::microseconds span, int rate) {
    return static_cast<std::size_t>(span.count() * rate / 1000000);
}
inline constexpr std::chrono::milliseconds kFadeHeard{
    3};  // beyond the margin's and the fade's span

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

inline void forget(pa_operation* operation) {
    if (operation) pa_operation_unref(operation);
}

inline bool sounds(Phase phase) {
    return phase == Phase::Playing || phase == Phase::Cued;
}

// The name the sound server remembers the stream's routing and volume under.
inline std::string restoreId(const std::string& appId, const std::string& label) {
    std::string id = appId + "-";
    for (const char c : label)
        id += std::isalnum(static_cast<unsigned char>(c))
                  ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                  : '-';
    return id;
}

inline std::string mediaName(const std::string& label, const std::string& title) {
    return title.empty() ? label : label + ": " + title;
}

}  // namespace pulse_parts

struct PulseOutput::Stream {
    using Clock = pulse_parts::Clock;
    // The server's stream. Steps: Closed -> Awaiting or Making; Awaiting -> Closed; Making ->
    // Ready, Renewing or Failed; Ready -> Renewing or Failed; any -> Closed.
    enum class Life {
        Closed,    // none
        Awaiting,  // none: its chosen device is not there
        Making,    // asked of the server
        Ready,
        // To be made anew by the watch, outside libpulse's callbacks: on a sink of another rate
        // than it was made at, or sent to another device; once its sound has faded out.
        Renewing,
        Failed,  // failed alone, while the connection stands: the watch makes it anew
    };
    // A cut of sound that plays: None -> Timing (the server's timing asked afresh) -> Fading
    // (the fade written over what it holds, until it has been heard) -> None.
    enum class Cut { None, Timing, Fading };
    // What follows a cut: the source's state applied, or the stream made anew.
    enum class Then { Apply, Renew };
    // How the next frames start: Corked (the stream runs once its first frames are written)
    // -> LedIn (a moment of silence written before them) -> None; OverSilence (a running
    // stream's first frames go over the silence after a fade) -> None.
    enum class Start { None, Corked, LedIn, OverSilence };

    // A slot handed to `newSource` starts clean: nothing of the one before is inherited.
    void takeUp(AudioSource* newSource);

    PulseOutput* owner = nullptr;
    AudioSource* source = nullptr;
    std::string label;
    pa_stream* pa = nullptr;
    pa_time_event* retry = nullptr;     // a fill that found nothing, tried again
    pa_time_event* fadeDone = nullptr;  // a cut's fade has been heard
    Life life = Life::Closed;
    Cut cut = Cut::None;
    Then then = Then::Apply;
    Start start = Start::None;
    std::chrono::milliseconds retryAfter = pulse_parts::kRetrySoon;
    bool corked = true;     // as the server was last told
    bool sounding = false;  // the source's phase sounded when last applied
    std::uint32_t epoch = 0;
    float gain = 1.0f;
    std::string title;
    StallRule stall{
        {std::chrono::milliseconds(1000), pulse_parts::kStartLimit, pulse_parts::kWatchPeriod}};
    int asks = 0;                   // requests since the stream became ready
    Clock::time_point openedAt;     // a stream that fails again soon waits before the next
    std::uint32_t lastUnheard = 0;  // the server's last timing of the stream, in frames
    std::string device;             // chosen when it was made; "" the default
    bool awaitTold = false;         // the wait for its device told, since it last played
    // The rate it was made at: its sink's, so that the server resamples nothing.
    int rate = 0;
    std::string sink;  // where the server last played it, kept across remakes
    // Where a move from outside (the desktop's sound settings) put a stream that follows the
    // default, if not on the default: its remakes go there, not back to the default.
    std::string movedTo;
    // The sink it is made on: its chosen device, else where it was moved, else ("") the default.
    const std::string& target() const { return device.empty() ? movedTo : device; }
    // Made anew where the source was playing: the epoch it had is not written, the deck goes
    // on from where it was heard with a new one, within a tick.
    std::optional<std::uint32_t> staleEpoch;
    Clock::time_point staleUntil;
    HeldAudio kept;  // what the server holds, to be written again faded or at a new volume
    std::size_t fadeMargin = 0;  // frames before the last fade began, from what was heard
    std::int64_t fadeEnd = 0;    // the server's index, in bytes, where that fade ends
    int fadeChecks = 0;          // times the server was asked whether it has taken the fade
    unsigned timed = 0;          // Timed bits: what waits for the server's timing, asked
    GraphStep graphStep;         // PipeWire's, from the server's read index
};
