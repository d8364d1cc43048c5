#pragma once

#include <optional>

#include "engine/loudness/measured_loudness.h"
#include "engine/loudness/replay_gain.h"

// Loudness levelling per deck: the file's own level, or each track, or each album brought to
// the same loudness.
enum class LevellingMode { Off, Track, Album };

// What is known of a file's level: its tags, and its measure once it has one.
struct LevellingInfo {
    ReplayGainTags tags{};
    std::optional<MeasuredLoudness> measured{};
};

namespace Levelling {

// ReplayGain 2.0's reference: a tag's gain is used as it is, a measure is brought to it.
constexpr double kReferenceLufs = -18.0;

// The linear factor for the deck's volume: the tag's gain for the mode (Album: the album's
// where the file has one, else the track's), else the measure's, plus the pre-amp, lowered
// where needed so that the peak times the factor stays at or below full scale. Off: 1.
// Absent while the file has no gain for the mode and has not been measured yet.
std::optional<double> gain(const LevellingInfo& info, LevellingMode mode, double preampDb);

// The linear factor while gain() is absent: the pre-amp, lowered so that the tags' peak for the
// mode stays at or below full scale, and at most 1 (the file's own level) without a peak: a
// pre-amp meant for levelled files must not push an unknown one into clipping. Off: 1.
double guess(const ReplayGainTags& tags, LevellingMode mode, double preampDb);

// Whether the tags alone give the mode's gain, so that no measure is needed.
bool tagsSuffice(const ReplayGainTags& tags, LevellingMode mode);

}  // namespace Levelling
