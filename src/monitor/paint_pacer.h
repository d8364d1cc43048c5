#pragma once

#include <QColor>
#include <QString>
#include <vector>

class QWidget;

// Holds the repaint of the widgets the tick changes most (the decks' time, percentage and
// progress) to every kTicksPerPaint-th tick: no screen shows 100 frames a second of them, and
// nobody reads the milliseconds as they run. Their values are still set on every tick, so
// what a test, a screen reader or MPRIS reads is always current. Only a widget whose value
// waits for its paint is held between ticks; the others take focus, hover and enabled changes
// as any widget does. Nothing is painted while the window is minimized. UI thread only.
class PaintPacer {
public:
    // 20 paints a second at most, and a change waits 40 ms at most for its pixels: each paint
    // costs a round trip to the X server, and a clock read by eye needs no more.
    static constexpr int kTicksPerPaint = 5;

    explicit PaintPacer(std::vector<QWidget*> widgets);
    void beforeTick();  // between paint ticks a change is not painted
    void afterTick();   // on a paint tick what changed since the last paint is

private:
    // What a paced widget shows: a label's text and colour, a slider's value.
    struct Shown {
        QString text;
        QColor color;
        int value = 0;
        bool operator==(const Shown&) const = default;
    };
    static Shown shownBy(const QWidget* widget);

    struct Paced {
        Shown painted;      // what its pixels show
        bool held = false;  // its updates were off when the tick began
    };

    std::vector<QWidget*> widgets;
    std::vector<Paced> paced;
    int ticks = 0;
};
