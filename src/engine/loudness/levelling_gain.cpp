#include "engine/loudness/levelling_gain.h"

#include <algorithm>
#include <cmath>

namespace {

// The range the tags may hold; a measure of near silence asks for no more than a tag could.
constexpr double kMaxGainDb = 51.0;

}  // namespace

namespace Levelling {

std::optional<double> gain(const LevellingInfo& info, LevellingMode mode, double preampDb) {
    if (mode == LevellingMode::Off) return 1.0;
    const ReplayGainTags& tags = info.tags;
    std::optional<double> gainDb;
    std::optional<double> peak;
    if (mode == LevellingMode::Album && tags.albumGainDb) {
        gainDb = tags.albumGainDb;
        peak = tags.albumPeak ? tags.albumPeak : tags.trackPeak;
    } else if (tags.trackGainDb) {
        gainDb = tags.trackGainDb;
        peak = tags.trackPeak;
    } else if (info.measured) {
        const MeasuredLoudness& measured = *info.measured;
        // Silence, or a measure that went wrong: nothing to bring to the reference.
        if (!std::isfinite(measured.integratedLufs)) return 1.0;
        gainDb = std::clamp(kReferenceLufs - measured.integratedLufs, -kMaxGainDb, kMaxGainDb);
    } else {
        return std::nullopt;
    }
    // The measure's own peak bounds a tag that brought none.
    if (!peak && info.measured && info.measured->samplePeak > 0) peak = info.measured->samplePeak;
    double factor = std::pow(10.0, (*gainDb + preampDb) / 20.0);
    if (!std::isfinite(factor)) factor = 1.0;
    // Without a peak, raising the level could clip: the file then plays no louder than it is.
    if (!peak || *peak <= 0) return std::min(factor, 1.0);
    if (*peak * factor > 1.0) factor = 1.0 / *peak;
    return factor;
}

double guess(const ReplayGainTags& tags, LevellingMode mode, double preampDb) {
    if (mode == LevellingMode::Off) return 1.0;
    const std::optional<double> peak =
        mode == LevellingMode::Album && tags.albumPeak ? tags.albumPeak : tags.trackPeak;
    const double factor = std::pow(10.0, preampDb / 20.0);
    if (!std::isfinite(factor)) return 1.0;
    return std::min(factor, peak && *peak > 0 ? 1.0 / *peak : 1.0);
}

bool tagsSuffice(const ReplayGainTags& tags, LevellingMode mode) {
    switch (mode) {
        case LevellingMode::Off:
            return true;
        case LevellingMode::Track:
            return tags.trackGainDb.has_value();
        case LevellingMode::Album:
            return tags.albumGainDb || tags.trackGainDb;
    }
    return false;
}

}  // namespace Levelling
