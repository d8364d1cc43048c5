#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/deck.h"

// Deck 1 as every handler drives it, seen from outside the window: which file it was last
// given (as a full path) and how many files it has been given, and a call after every seek.
// Everything else passes straight through. UI thread only, like every deck call.
class ObservedDeck : public Deck {
public:
    explicit ObservedDeck(Deck& deck) : deck(deck) {}

    // Runs after each seek, placing or 10-second step, with the deck already at its new position.
    void setOnSeeked(std::function<void()> action) { onSeeked = std::move(action); }

    // The file last set, made absolute against the current directory at that moment.
    const std::string& path() const { return fullPath; }
    // Goes up with every file set, the same file again included.
    std::uint64_t loads() const { return loadCount; }

    void setFileName(const std::string& name) override;
    std::string fileName() const override { return deck.fileName(); }
    void play() override { deck.play(); }
    void pause() override { deck.pause(); }
    void stop() override { deck.stop(); }
    int playState() const override { return deck.playState(); }
    double duration() const override { return deck.duration(); }
    double currentPosition() const override { return deck.currentPosition(); }
    void setVolume(int volume) override { deck.setVolume(volume); }
    void stepForward() override;
    void stepBack() override;
    void seek(double seconds) override;
    void pauseAt(double seconds) override;
    void cueNext(const std::string& name) override { deck.cueNext(name); }
    void setCrossfade(double seconds) override { deck.setCrossfade(seconds); }
    double crossfade() const override { return deck.crossfade(); }
    void followOutput() override { deck.followOutput(); }
    void waitForOpenAtMost(std::chrono::milliseconds limit) override {
        deck.waitForOpenAtMost(limit);
    }
    bool stillOpening() const override { return deck.stillOpening(); }
    bool offersOutputChoice() const override { return deck.offersOutputChoice(); }
    std::vector<OutputDevice> outputDevices() const override { return deck.outputDevices(); }
    std::string outputDevice() const override { return deck.outputDevice(); }
    void chooseOutputDevice(const std::string& name) override { deck.chooseOutputDevice(name); }
    void setLevelling(Levelling mode, double preampDb) override {
        deck.setLevelling(mode, preampDb);
    }
    Levelling levelling() const override { return deck.levelling(); }

private:
    void seeked() {
        if (onSeeked) onSeeked();
    }

    Deck& deck;
    std::function<void()> onSeeked;
    std::string fullPath;
    std::uint64_t loadCount = 0;
};
