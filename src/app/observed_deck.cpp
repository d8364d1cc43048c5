#include "app/observed_deck.h"

#include <filesystem>

void ObservedDeck::setFileName(const std::string& name) {
    // Made absolute now: the deck looks a bare name up in the current directory of this call.
    std::error_code ec;
    const std::filesystem::path absolute =
        name.empty() ? std::filesystem::path() : std::filesystem::absolute(name, ec);
    fullPath = ec ? name : absolute.string();
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
