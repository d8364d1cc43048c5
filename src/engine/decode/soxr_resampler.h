#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/deck/stereo_frame.h"

struct soxr;

// Converts a stream of frames from one rate to another with libsoxr, chunk by chunk, at a
// quality whose images and aliases lie more than 90 dB below the signal. The output lasts
// exactly as long as the input (to the nearest output frame), so that clocks and joins stay
// exact; at the same rate the frames pass unchanged. One thread at a time; it allocates.
class SoxrResampler {
public:
    SoxrResampler() = default;
    ~SoxrResampler();
    SoxrResampler(const SoxrResampler&) = delete;
    SoxrResampler& operator=(const SoxrResampler&) = delete;

    // Starts a new stream; false (and frames pass unchanged) when libsoxr refuses the rates.
    bool reset(int fromRate, int toRate);
    int fromRate() const { return from; }
    int toRate() const { return to; }
    // Appends the output for the next input chunk to out.
    void process(std::span<const StereoFrame> in, std::vector<StereoFrame>& out);
    // At the end of the stream: the rest of the output, up to its exact length.
    void finish(std::vector<StereoFrame>& out);
    // Input frames taken since the reset, and the output frames they make in all.
    std::uint64_t inputCount() const { return inputFrames; }
    std::uint64_t outputFor(std::uint64_t input) const;

private:
    void drain(const StereoFrame* in, std::size_t frames, std::vector<StereoFrame>& out);

    soxr* resampler = nullptr;
    int from = 1;
    int to = 1;
    std::uint64_t inputFrames = 0;
    std::uint64_t outputFrames = 0;
};
