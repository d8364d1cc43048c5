#include "app/observed_deck.h"

#include <filesystem>

#include "components/absolute_path.h"

void ObservedDeck::setFileName(const std::string& name) {
    // Made absolute now: the deck looks a bare name up in the current directory of this call.
    fullPath = absoluteOrAsGiven(name);
    ++loadCount;
    deck.setFileName(name);
}

void ObservedDeck::stepForward() {
    deck.stepForward();
    seeked();
}

void ObservedDeck::stepBack() {
    deck.stepBack();
    seeked();
}

void ObservedDeck::seek(double seconds) {
    deck.seek(seconds);
    seeked();
}

void ObservedDeck::pauseAt(double seconds) {
    deck.pauseAt(seconds);
    seeked();
}
