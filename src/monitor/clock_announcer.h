#pragma once

#include <QString>
#include <functional>
#include <vector>

class QLabel;

// Tells assistive technology about the labels that run with the clock (the decks' time and
// percentage) once a second at most, and not at all while none listens: their text changes
// on every tick, and an event each time would flood the accessibility bus and make a screen
// reader chatter. What it reads on request is always the current text. UI thread only.
class ClockAnnouncer {
public:
    static constexpr int kTicksPerAnnouncement = 100;  // a second of 10 ms ticks

    // Who hears the announcements: the accessibility bus, unless a test listens instead.
    struct Listener {
        std::function<bool()> listening;
        std::function<void(QLabel*)> announce;
    };
    static Listener accessibilityBus();

    explicit ClockAnnouncer(std::vector<QLabel*> labels, Listener listener = accessibilityBus());
    void afterTick();

private:
    std::vector<QLabel*> labels;
    Listener listener;
    std::vector<QString> announced;
    int ticks = 0;
};
