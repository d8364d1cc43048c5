#pragma once

// The vertical bars run from 0 (top, loudest) to 32767 (bottom, softest). Every formula that
// maps a bar position to a level, volume, tint or stored value uses these; each keeps its own
// rounding (a whole-number divisor rounds down, a fractional one is rounded by the caller).
namespace ScrollScale {
constexpr int kBottom = 32767;            // the bars' maximum
constexpr double kPerHundredth = 327.67;  // positions per hundredth of the travel
constexpr int kPerHundredthDown = 327;    // its whole-number approximations
constexpr int kPerHundredthUp = 328;
constexpr double kMixerLevelPerHundredth = 655.35;  // mixer level 0..65535 per hundredth
}  // namespace ScrollScale
