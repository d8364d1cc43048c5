#pragma once

#include <atomic>
#include <string>

#include "engine/deck/audio_source.h"
#include "engine/deck/deck_control.h"

// A deck that plays but has nothing to give: its disk does not answer.
class StarvedSource final : public AudioSource {
public:
    int mixInto(StereoFrame*, int, const MixTiming&) noexcept override { return 0; }
    void holdClock(std::int64_t, int) noexcept override {}
    void retime(const MixTiming&) noexcept override {}
    void playAt(int rate) noexcept override { lastRate = rate; }
    bool isPlaying() const noexcept override { return playing; }
    DeckControl::Word control() const noexcept override {
        return {1, playing ? DeckControl::Phase::Playing : DeckControl::Phase::Stopped};
    }
    float gain() const noexcept override { return 1.0f; }
    std::string playingName() const override { return playing ? "starved.mp3" : ""; }
    std::string label() const override { return name; }
    std::string title() const override { return "starved.mp3"; }
    std::atomic<bool> playing{true};
    std::string name = "Deck 1";
    std::atomic<int> lastRate{0};  // the rate the output last said it plays the deck at
};
