#pragma once

#include <cstddef>
#include <span>
#include <vector>

// Measurements on recorded or decoded sound.

// One channel of interleaved samples.
std::vector<float> channelOf(std::span<const float> interleaved, int channels, int channel);
// Amplitude (peak) of the sinusoid at exactly frequencyHz: Goertzel over a Hann window.
double toneAmplitude(std::span<const float> mono, int rate, double frequencyHz);
// Frequency of a clean tone from its rising zero crossings, interpolated.
double zeroCrossingFrequency(std::span<const float> mono, int rate);
// Index of the first sample whose magnitude reaches threshold; size() if none.
std::size_t firstAbove(std::span<const float> mono, float threshold);
// Index one past the last sample whose magnitude reaches threshold; 0 if none.
std::size_t endOfSound(std::span<const float> mono, float threshold);
double rms(std::span<const float> mono);
// One second of steady sound: from a quarter second after the first sample above 0.01;
// empty when the recording holds less.
std::span<const float> steadySecond(std::span<const float> mono, int rate);
// The median over 100 ms windows of a tone's amplitude, or of its ratio to another tone
// (over > 0): a dropout of the sound server on a loaded machine spoils a window or two, not
// the figure.
double medianOverWindows(std::span<const float> mono, int rate, double frequencyHz,
                         double over = 0);
