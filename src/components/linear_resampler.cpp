#include "components/linear_resampler.h"

void LinearResampler::reset(int fromRate, int toRate) {
    from = fromRate;
    to = toRate;
    position = to;  // the first output frame is the first input frame
    previous = {};
}

void LinearResampler::process(std::span<const StereoFrame> in, std::vector<StereoFrame>& out) {
    if (from == to) {
        out.insert(out.end(), in.begin(), in.end());
        return;
    }
    const auto n = static_cast<std::int64_t>(in.size());
    if (n == 0) return;
    auto frame = [&](std::int64_t i) -> const StereoFrame& {
        return i == 0 ? previous : in[i - 1];
    };
    while (position / to < n) {
        const std::int64_t i = position / to;
        const float t = static_cast<float>(position % to) / static_cast<float>(to);
        const StereoFrame& a = frame(i);
        const StereoFrame& b = frame(i + 1);
        out.push_back({a.left + (b.left - a.left) * t, a.right + (b.right - a.right) * t});
        position += from;
    }
    previous = in[n - 1];
    position -= n * to;
}

void LinearResampler::finish(std::vector<StereoFrame>& out) {
    if (from == to) return;
    for (; position < to; position += from) out.push_back(previous);
}
