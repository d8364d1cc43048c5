#include "support/spectrum.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>

namespace {

double besselI0(double x) {
    double sum = 1;
    double term = 1;
    for (int k = 1; k < 200 && term > 1e-20 * sum; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
    }
    return sum;
}

void fft(std::vector<std::complex<double>>& data) {
    const std::size_t n = data.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi / double(length));
        for (std::size_t start = 0; start < n; start += length) {
            std::complex<double> w = 1;
            for (std::size_t k = 0; k < length / 2; ++k) {
                const auto even = data[start + k];
                const auto odd = data[start + k + length / 2] * w;
                data[start + k] = even + odd;
                data[start + k + length / 2] = even - odd;
                w *= step;
            }
        }
    }
}

}  // namespace

double Spectrum::peakNear(double frequencyHz, double widthHz) const {
    double peak = 0;
    for (std::size_t i = 0; i < amplitude.size(); ++i)
        if (std::fabs(double(i) * binHz - frequencyHz) <= widthHz)
            peak = std::max(peak, amplitude[i]);
    return peak;
}

double Spectrum::peakOutside(double fromHz, double toHz, double limitHz) const {
    double peak = 0;
    for (std::size_t i = 0; i < amplitude.size(); ++i) {
        const double f = double(i) * binHz;
        if (f > limitHz) break;
        if (f < fromHz || f > toHz) peak = std::max(peak, amplitude[i]);
    }
    return peak;
}

Spectrum spectrumOf(std::span<const float> mono, int rate) {
    const std::size_t n = std::bit_floor(mono.size());
    constexpr double kBeta = 20;
    std::vector<std::complex<double>> data(n);
    double windowSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = 2.0 * double(i) / double(n - 1) - 1;
        const double w = besselI0(kBeta * std::sqrt(std::max(0.0, 1 - x * x))) / besselI0(kBeta);
        windowSum += w;
        data[i] = mono[i] * w;
    }
    fft(data);
    Spectrum spectrum;
    spectrum.rate = rate;
    spectrum.binHz = double(rate) / double(n);
    spectrum.amplitude.resize(n / 2);
    for (std::size_t i = 0; i < n / 2; ++i)
        spectrum.amplitude[i] = 2 * std::abs(data[i]) / windowSum;
    return spectrum;
}
