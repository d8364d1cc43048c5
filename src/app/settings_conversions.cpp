#include "app/settings_conversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "shared/rounding.h"
#include "shared/scroll_scale.h"

double leadingNumber(const std::string& text) {
    // Blanks, tabs and line feeds count nowhere, not even inside the number ("4 2" is 42).
    std::string number;
    size_t digits = 0;
    enum { Sign, Whole, Fraction, ExponentSign, Exponent } part = Sign;
    size_t exponentStart = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n') continue;
        const bool digit = c >= '0' && c <= '9';
        if (part == Sign && (c == '+' || c == '-')) {
            if (c == '-') number += c;
            part = Whole;
        } else if (digit && part <= Fraction) {
            number += c;
            ++digits;
            if (part == Sign) part = Whole;
        } else if (c == '.' && part <= Whole) {
            number += c;
            part = Fraction;
        } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && part <= Fraction && digits) {
            exponentStart = number.size();
            number += 'e';
            part = ExponentSign;
        } else if ((c == '+' || c == '-') && part == ExponentSign) {
            number += c;
            part = Exponent;
        } else if (digit && part >= ExponentSign) {
            number += c;
            part = Exponent;
        } else {
            break;
        }
    }
    // An exponent mark without digits after it is not part of the number ("5e" is 5).
    if (exponentStart && !(number.back() >= '0' && number.back() <= '9'))
        number.resize(exponentStart);
    if (digits == 0) return 0;
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range)
        return number.find("e-") != std::string::npos ? 0 : number[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    return value;
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
