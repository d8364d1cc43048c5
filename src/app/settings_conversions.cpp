#include "app/settings_conversions.h"

#include <algorithm>
#include <cctype>

#include "shared/rounding.h"
#include "shared/scroll_scale.h"

double leadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    double sign = 1;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') sign = -1;
        ++i;
    }
    double value = 0;
    bool any = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        any = true;
    }
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            value += (text[i] - '0') * scale;
            scale /= 10;
            any = true;
        }
    }
    return any ? sign * value : 0;
}

int storedVolumeToPosition(const std::string& text) {
    const double s = std::clamp(roundHalfEven(leadingNumber(text)), 0.0, 100.0);
    return int(roundHalfEven(s * ScrollScale::kPerHundredth));
}

std::string positionToStoredVolume(int position) {
    const double s =
        roundHalfEven(std::clamp(position, 0, ScrollScale::kBottom) / ScrollScale::kPerHundredth);
    return std::to_string(int(s));
}
