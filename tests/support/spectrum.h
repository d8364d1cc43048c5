#pragma once

#include <span>
#include <vector>

// Amplitude spectrum of one channel, for telling a tone from faint artefacts far below it.
struct Spectrum {
    int rate = 0;
    double binHz = 0;
    std::vector<double> amplitude;  // peak amplitude of a sinusoid centred on each bin

    // The largest amplitude within `widthHz` of frequencyHz.
    double peakNear(double frequencyHz, double widthHz) const;
    // The largest amplitude outside [fromHz, toHz], up to `limitHz`.
    double peakOutside(double fromHz, double toHz, double limitHz) const;
};

// Kaiser window (beta 20: sidelobes far below -150 dB, main lobe about 13 bins wide) over the
// first power of two of samples, then an FFT.
Spectrum spectrumOf(std::span<const float> mono, int rate);
