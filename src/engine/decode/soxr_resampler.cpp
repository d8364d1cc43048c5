#include "engine/decode/soxr_resampler.h"

#include <soxr.h>

SoxrResampler::~SoxrResampler() {
    if (resampler) soxr_delete(resampler);
}

bool SoxrResampler::reset(int fromRate, int toRate) {
    inputFrames = 0;
    outputFrames = 0;
    if (resampler && fromRate == from && toRate == to) {
        soxr_clear(resampler);
        return true;
    }
    if (resampler) soxr_delete(resampler);
    resampler = nullptr;
    from = fromRate;
    to = toRate;
    if (from == to || from <= 0 || to <= 0) {
        from = to;
        return from == toRate;
    }
    // 20-bit quality: images and aliases below -120 dB, at a fraction of the 28-bit cost.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    resampler = soxr_create(from, to, 2, &error, &io, &quality, &runtime);
    if (error) {
        if (resampler) soxr_delete(resampler);
        resampler = nullptr;
        from = to;
        return false;
    }
    return true;
}

void SoxrResampler::drain(const StereoFrame* in, std::size_t frames,
                          std::vector<StereoFrame>& out) {
    // Room for what this input gives, plus what the filter still holds on a flush.
    const std::size_t room =
        frames * static_cast<std::size_t>(to) / static_cast<std::size_t>(from) + 256;
    for (;;) {
        const std::size_t at = out.size();
        out.resize(at + room);
        std::size_t taken = 0;
        std::size_t made = 0;
        soxr_process(resampler, in, frames, in ? &taken : nullptr, out.data() + at, room, &made);
        out.resize(at + made);
        outputFrames += made;
        if (in) {
            in += taken;
            frames -= taken;
            if (frames == 0) return;
        } else if (made == 0) {
            return;
        }
    }
}

void SoxrResampler::process(std::span<const StereoFrame> in, std::vector<StereoFrame>& out) {
    inputFrames += in.size();
    if (!resampler) {
        out.insert(out.end(), in.begin(), in.end());
        return;
    }
    if (!in.empty()) drain(in.data(), in.size(), out);
}

std::uint64_t SoxrResampler::outputFor(std::uint64_t input) const {
    // As many output frames as the input lasts, to the nearest.
    return (input * static_cast<std::uint64_t>(to) + static_cast<std::uint64_t>(from) / 2) /
           static_cast<std::uint64_t>(from);
}

void SoxrResampler::finish(std::vector<StereoFrame>& out) {
    if (!resampler) return;
    const std::size_t start = out.size();
    const std::uint64_t before = outputFrames;
    drain(nullptr, 0, out);
    const std::uint64_t exact = outputFor(inputFrames);
    const std::uint64_t made = outputFrames;
    if (made > exact) {
        out.resize(start + static_cast<std::size_t>(exact > before ? exact - before : 0));
    } else {
        out.resize(out.size() + static_cast<std::size_t>(exact - made),
                   out.empty() ? StereoFrame{} : out.back());
    }
    outputFrames = exact;
}
