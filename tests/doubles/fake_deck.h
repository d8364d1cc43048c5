#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "components/deck.h"

// Records every call; tests set what it reports.
class FakeDeck : public Deck {
public:
    std::vector<std::string> calls;  // "setFileName x", "play", "pause", "stop", "setVolume v", ...
    std::string loaded;              // the name last set
    int state = Stopped;
    bool opens = true;                    // play() on a stopped deck reaches Playing
    std::vector<std::string> unplayable;  // names that fail to start, whatever `opens` says
    double length = 0;
    double position = 0;
    int volume = 0;

    void setFileName(const std::string& name) override;
    std::string fileName() const override;
    void play() override;
    void pause() override;
    void stop() override;
    int playState() const override { return state; }
    double duration() const override { return length; }
    double currentPosition() const override { return position; }
    void setVolume(int v) override;
    void stepForward() override { calls.push_back("stepForward"); }
    void stepBack() override { calls.push_back("stepBack"); }
    void cueNext(const std::string& name) override { cues.push_back(name); }
    void followOutput() override {}  // nothing of an output to follow
    void waitForOpenAtMost(std::chrono::milliseconds limit) override { openWaits.push_back(limit); }
    // Answers once asked `opensAfterAsks` times after each file set.
    bool stillOpening() const override {
        if (asksLeft == 0) return false;
        --asksLeft;
        return true;
    }
    int opensAfterAsks = 0;
    std::vector<std::chrono::milliseconds> openWaits;  // each limit given
    std::vector<std::string> cues;          // every cue given, kept apart from the transport calls
    void seek(double seconds) override;     // "seek <whole milliseconds>"
    void pauseAt(double seconds) override;  // "pauseAt <whole milliseconds>"

    // Outputs: what the deck offers, and every choice made, in order.
    bool offersChoice = false;
    std::vector<OutputDevice> devices;
    std::string chosenOutput;
    std::vector<std::string> outputChoices;
    bool offersOutputChoice() const override { return offersChoice; }
    std::vector<OutputDevice> outputDevices() const override { return devices; }
    std::string outputDevice() const override { return chosenOutput; }
    void chooseOutputDevice(const std::string& name) override {
        chosenOutput = name;
        outputChoices.push_back(name);
    }

    // Levelling: the mode it is in, and every (mode, pre-amp) given, in order.
    Levelling levellingMode = Levelling::Off;
    std::vector<std::pair<Levelling, double>> levellings;
    void setLevelling(Levelling mode, double preampDb) override {
        levellingMode = mode;
        levellings.emplace_back(mode, preampDb);
    }
    Levelling levelling() const override { return levellingMode; }

    double crossfadeSeconds = 0;
    void setCrossfade(double seconds) override { crossfadeSeconds = seconds; }
    double crossfade() const override { return crossfadeSeconds; }

    // Calls that change the deck, without setVolume (which the tick may repeat).
    std::vector<std::string> transport() const;

private:
    mutable int asksLeft = 0;
};
