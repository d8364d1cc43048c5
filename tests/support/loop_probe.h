#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>

// A 10 ms timer beside the window's own: its gaps are the event loop's.
class LoopProbe {
public:
    LoopProbe() {
        clock.start();
        QObject::connect(&timer, &QTimer::timeout, [this] {
            longest = std::max(longest, sinceLastBeat());
            last = clock.elapsed();
            ++count;
        });
        timer.start(10);
    }
    // The gap still open counts too: a loop that is held now has not beaten since.
    qint64 longestGap() const { return std::max(longest, sinceLastBeat()); }
    qint64 sinceLastBeat() const { return clock.elapsed() - last; }
    qint64 elapsed() const { return clock.elapsed(); }
    int beats() const { return count; }
    void stop() { timer.stop(); }

private:
    QElapsedTimer clock;
    QTimer timer;
    qint64 last = 0, longest = 0;
    int count = 0;
};
