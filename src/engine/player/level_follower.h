#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "engine/deck/deck_stream.h"
#include "engine/loudness/levelling_gain.h"

class LoudnessService;

// A deck's levelling: each file's level is its measured gain where known, else the service's
// guess until it is (never above the file's own level without a known peak), glided to while
// the deck sounds so that a change is heard as a fade, not a jump; and the cued file's level,
// which its frames get from the first.
//
// Threads: the UI thread only. No I/O: the service answers from memory.
class LevelFollower {
public:
    // Where files' loudness is learnt; without one nothing is levelled.
    void use(LoudnessService& service);
    void choose(LevellingMode mode, double preampDb);
    // Asks for `file` to be measured; `urgent`: it is about to play.
    void ask(const std::string& file, bool urgent);
    // Aims at `playing`'s level, gliding if `glide` and the deck sounds, at once otherwise; and
    // takes `cued`'s ("" when none).
    void aim(const std::string& playing, const std::string& cued, bool glide, bool sounding);
    // The tick: takes a result that came, and steps the glide. True when the levels changed.
    bool step(const std::string& playing, const std::string& cued, bool sounding);
    DeckStream::Levels levels() const;

private:
    // A file's level and whether it is known (not the guess).
    std::pair<double, bool> levelOf(const std::string& file) const;

    // A glide takes this many ticks (10 ms each).
    static constexpr int kGlideTicks = 100;

    LoudnessService* service = nullptr;
    int deck = 0;                             // who asks, to the service
    LevellingMode mode = LevellingMode::Off;  // Off without a service
    double preampDb = 0;
    bool playingKnown = true;
    bool cuedKnown = true;
    std::uint64_t resultsSeen = 0;
    double levelDb = 0;  // applied now
    double targetDb = 0;
    double stepDb = 0;  // per tick while gliding
    double cued = 1.0;
};
