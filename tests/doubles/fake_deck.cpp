#include "fake_deck.h"

#include <algorithm>
#include <cmath>

void FakeDeck::setFileName(const std::string& name) {
    calls.push_back("setFileName " + name);
    loaded = name;
    asksLeft = opensAfterAsks;
}

std::string FakeDeck::fileName() const {
    auto slash = loaded.rfind('/');
    return slash == std::string::npos ? loaded : loaded.substr(slash + 1);
}

void FakeDeck::play() {
    calls.push_back("play");
    if (std::find(unplayable.begin(), unplayable.end(), loaded) != unplayable.end())
        state = Stopped;
    else if (state == Paused || opens)
        state = Playing;
}

void FakeDeck::pause() {
    calls.push_back("pause");
    if (state == Playing) state = Paused;
}

void FakeDeck::stop() {
    calls.push_back("stop");
    state = Stopped;
    position = 0;
}

void FakeDeck::seek(double seconds) {
    calls.push_back("seek " + std::to_string(std::lround(seconds * 1000)));
    if (seconds >= length) {
        state = Stopped;
        position = 0;
    } else {
        position = std::max(0.0, seconds);
    }
}

void FakeDeck::pauseAt(double seconds) {
    calls.push_back("pauseAt " + std::to_string(std::lround(seconds * 1000)));
    if (loaded.empty()) return;
    if (seconds >= length) {
        state = Stopped;
        position = 0;
    } else {
        state = Paused;
        position = std::max(0.0, seconds);
    }
}

void FakeDeck::setVolume(int v) {
    calls.push_back("setVolume " + std::to_string(v));
    volume = v;
}

std::vector<std::string> FakeDeck::transport() const {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind("setVolume", 0) != 0) out.push_back(c);
    return out;
}
