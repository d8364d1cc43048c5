#pragma once

#include <optional>
#include <string>

// The ReplayGain a file carries: gains in dB (relative to ReplayGain's reference, used as they
// are), peaks as linear sample values of full scale. A value the file does not carry, or one
// that cannot be right (beyond ±51 dB, not a number, a peak of 0 or less, or absurdly large),
// is absent.
struct ReplayGainTags {
    std::optional<double> trackGainDb{};
    std::optional<double> trackPeak{};
    std::optional<double> albumGainDb{};
    std::optional<double> albumPeak{};

    bool operator==(const ReplayGainTags&) const = default;
};

// Reads the ID3v2 RVA2 and TXXX replaygain_* frames and the LAME header's gains of an MP3 file;
// where several carry a value, RVA2 wins over TXXX and TXXX over the LAME header. Reads the
// file: never on the UI thread or an audio callback. A file that cannot be read, or any bytes
// at all, give what could be read, never a crash.
ReplayGainTags readReplayGainTags(const std::string& path);

namespace ReplayGainText {
// A gain as TXXX frames write it ("-6.50 dB", "+3 dB", "0.000000"); absent when it is not a
// plain number, optionally followed by "dB", or lies outside the range a gain may have.
std::optional<double> gainDb(const std::string& text);
// A peak ("0.988525"); absent when it is not a plain number or not a plausible peak.
std::optional<double> peak(const std::string& text);
}  // namespace ReplayGainText
