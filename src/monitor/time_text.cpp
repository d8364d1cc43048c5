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

namespace {

// Writes `value` (not negative) with at least `width` digits, zeros in front.
char16_t* writeDigits(char16_t* out, int64_t value, int width) {
    char16_t digits[20];
    int count = 0;
    do {
        digits[count++] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int i = count; i < width; ++i) *out++ = u'0';
    while (count > 0) *out++ = digits[--count];
    return out;
}

}  // namespace

QString elapsedTimeText(int64_t milliseconds) {
    // Written in place: both decks' labels ask for it on every tick.
    milliseconds = std::max<int64_t>(milliseconds, 0);
    const int64_t totalSeconds = milliseconds / 1000;
    char16_t text[40];
    char16_t* end = writeDigits(text, totalSeconds / 3600, 2);
    *end++ = u':';
    end = writeDigits(end, totalSeconds / 60 % 60, 2);
    *end++ = u':';
    end = writeDigits(end, totalSeconds % 60, 2);
    *end++ = u'.';
    end = writeDigits(end, milliseconds % 1000, 3);
    return QString(reinterpret_cast<const QChar*>(text), end - text);
}

int progressPercent(double position, double length) {
    if (!(length > 0)) return 0;
    return int(std::clamp(roundHalfEven(position / length * 100.0), 0.0, 100.0));
}
