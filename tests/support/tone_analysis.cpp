#include "support/tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

std::vector<float> channelOf(std::span<const float> interleaved, int channels, int channel) {
    std::vector<float> out;
    out.reserve(interleaved.size() / channels);
    for (std::size_t i = channel; i < interleaved.size(); i += channels)
        out.push_back(interleaved[i]);
    return out;
}

double toneAmplitude(std::span<const float> mono, int rate, double frequencyHz) {
    const std::size_t n = mono.size();
    if (n < 2) return 0;
    const double w = 2 * std::numbers::pi * frequencyHz / rate;
    std::complex<double> sum = 0;
    double windowSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (n - 1));
        windowSum += hann;
        sum += mono[i] * hann * std::polar(1.0, -w * static_cast<double>(i));
    }
    return 2 * std::abs(sum) / windowSum;
}

double zeroCrossingFrequency(std::span<const float> mono, int rate) {
    double first = -1;
    double last = -1;
    int count = 0;
    for (std::size_t i = 1; i < mono.size(); ++i) {
        if (mono[i - 1] < 0 && mono[i] >= 0) {
            const double t = (i - 1) + mono[i - 1] / (mono[i - 1] - mono[i]);
            if (first < 0) first = t;
            last = t;
            ++count;
        }
    }
    if (count < 2) return 0;
    return (count - 1) * rate / (last - first);
}

std::size_t firstAbove(std::span<const float> mono, float threshold) {
    for (std::size_t i = 0; i < mono.size(); ++i)
        if (std::fabs(mono[i]) >= threshold) return i;
    return mono.size();
}

std::span<const float> steadySecond(std::span<const float> mono, int rate) {
    const std::size_t from = firstAbove(mono, 0.01f) + static_cast<std::size_t>(rate / 4);
    const auto length = static_cast<std::size_t>(rate);
    if (from + length > mono.size()) return {};
    return mono.subspan(from, length);
}

std::size_t endOfSound(std::span<const float> mono, float threshold) {
    for (std::size_t i = mono.size(); i > 0; --i)
        if (std::fabs(mono[i - 1]) >= threshold) return i;
    return 0;
}

double rms(std::span<const float> mono) {
    if (mono.empty()) return 0;
    double sum = 0;
    for (float s : mono) sum += double(s) * s;
    return std::sqrt(sum / mono.size());
}

double medianOverWindows(std::span<const float> mono, int rate, double frequencyHz, double over) {
    const std::size_t window = static_cast<std::size_t>(rate / 10);
    std::vector<double> values;
    for (std::size_t at = 0; at + window <= mono.size(); at += window) {
        const auto part = mono.subspan(at, window);
        const double a = toneAmplitude(part, rate, frequencyHz);
        values.push_back(over > 0 ? a / toneAmplitude(part, rate, over) : a);
    }
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}
