// The ReplayGain a file carries and the loudness cache's file, both on arbitrary bytes.
//
// What must hold, besides no sanitizer report: every gain read lies within what a tag may
// hold and every peak is positive and finite; what the cache reads from any bytes it writes
// back as a file that reads the same.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/loudness/loudness_cache.h"
#include "engine/loudness/replay_gain.h"

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "loudness_fuzz: %s\n", what);
    std::abort();
}

const std::string& filePath() {
    static const std::string* const path = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("velmor-loudness-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return new std::string((dir / "input.mp3").string());
    }();
    return *path;
}

void checkGain(const std::optional<double>& gain) {
    check(!gain || (std::isfinite(*gain) && std::fabs(*gain) <= 51), "gain out of range");
}

void checkPeak(const std::optional<double>& peak) {
    check(!peak || LoudnessBounds::plausiblePeak(*peak), "peak no decoded MP3 reaches");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(filePath(), std::ios::binary | std::ios::trunc) << bytes;
    const ReplayGainTags tags = readReplayGainTags(filePath());
    checkGain(tags.trackGainDb);
    checkGain(tags.albumGainDb);
    checkPeak(tags.trackPeak);
    checkPeak(tags.albumPeak);

    const auto entries = LoudnessCache::parse(bytes);
    const std::string written = LoudnessCache::serialize(entries);
    check(LoudnessCache::serialize(LoudnessCache::parse(written)) == written,
          "the cache does not read back what it wrote");
    return 0;
}
