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
    // position = index * to + remainder, stepped without a division per frame.
    std::int64_t index = position / to;
    std::int64_t remainder = position % to;
    const std::int64_t wholeStep = from / to;
    const std::int64_t partStep = from % to;
    const float scale = 1.0f / static_cast<float>(to);
    while (index < n) {
        const float t = static_cast<float>(remainder) * scale;
        const StereoFrame& a = frame(index);
        const StereoFrame& b = in[index];  // frame(index + 1)
        out.push_back({a.left + (b.left - a.left) * t, a.right + (b.right - a.right) * t});
        index += wholeStep;
        remainder += partStep;
        if (remainder >= to) {
            remainder -= to;
            ++index;
        }
    }
    previous = in[n - 1];
    position = (index - n) * to + remainder;
}

void LinearResampler::finish(std::vector<StereoFrame>& out) {
    if (from == to) return;
    for (; position < to; position += from) out.push_back(previous);
}
