#pragma once

#include <array>
#include <cstddef>

class QWidget;

// Holds the repaint of the widgets the tick changes most (the decks' time, percentage and
// progress) to every kTicksPerPaint-th tick: no screen shows 100 frames a second of them, and
// nobody reads the milliseconds as they run. Their values are still set on every tick, so
// what a test, a screen reader or MPRIS reads is always current. The tick's steps say which
// widget they are about to change; only such a widget is held, until the next paint tick, and
// the others take focus, hover and enabled changes as any widget does. A tick that changes
// nothing costs nothing here. Nothing is painted while the window is minimized. UI thread only.
class PaintPacer {
public:
    // 20 paints a second at most, and a change waits 40 ms at most for its pixels: each paint
    // costs a round trip to the X server, and a clock read by eye needs no more.
    static constexpr int kTicksPerPaint = 5;
    // More widgets than the decks' six are never held.
    static constexpr std::size_t kMostHeld = 8;

    void beforeTick();
    // Before a step changes what `widget` shows: between paint ticks its repaint waits for the
    // next one.
    void hold(QWidget* widget);
    void afterTick();  // on a paint tick what changed since the last paint is painted

private:
    bool paintTick() const { return ticks == 0; }

    std::array<QWidget*, kMostHeld> held{};
    std::size_t heldCount = 0;
    int ticks = 0;
};
