#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

// Where `reference` (interleaved stereo) begins in `recorded`, to the sample; npos if nowhere.
inline std::size_t findStart(const std::vector<float>& recorded,
                             const std::vector<float>& reference) {
    const std::size_t probe = std::min<std::size_t>(reference.size(), 2 * 4800);
    for (std::size_t at = 0; at + probe <= recorded.size(); at += 2) {
        std::size_t i = 0;
        while (i < probe && std::fabs(recorded[at + i] - reference[i]) < 1e-6f) ++i;
        if (i == probe) return at;
    }
    return std::string::npos;
}

// The largest difference between `count` samples of `recorded` from `at` and `reference`.
inline double worstDifference(const std::vector<float>& recorded, std::size_t at,
                              const std::vector<float>& reference, std::size_t count) {
    double worst = 0;
    for (std::size_t i = 0; i < count; ++i)
        worst = std::max(worst, double(std::fabs(recorded[at + i] - reference[i])));
    return worst;
}
