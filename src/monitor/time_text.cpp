#include "monitor/time_text.h"

#include <algorithm>
#include <cmath>

#include "shared/rounding.h"

int64_t positionMilliseconds(double seconds) {
    if (!(seconds > 0)) return 0;
    // Through whole microseconds first, so 83.456 (stored as 83.45599...) stays 83456 ms.
    const int64_t micro = std::llround(seconds * 1e6);
    return micro / 1000;
}

QString elapsedTimeText(int64_t milliseconds) {
    const int64_t ms = milliseconds % 1000;
    const int64_t totalSeconds = milliseconds / 1000;
    const int64_t seconds = totalSeconds % 60;
    const int64_t minutes = totalSeconds / 60 % 60;
    const int64_t hours = totalSeconds / 3600;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'))
        .arg(ms, 3, 10, QLatin1Char('0'));
}

int progressPercent(double position, double length) {
    if (!(length > 0)) return 0;
    return int(std::clamp(roundHalfEven(position / length * 100.0), 0.0, 100.0));
}
