// Speed of the loudness measure (decoding as the decks do, then libebur128): seconds of sound
// measured per second of one core's time, counted in CPU time of the measuring thread so that
// the other engineer's build or a busy machine does not change the figure. Usage:
// loudness_bench FILE.mp3...
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/file_loudness.h"
#include "engine/mp3_decoder.h"

namespace {

constexpr int kRuns = 3;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.mp3...\n", argv[0]);
        return 2;
    }
    std::printf("%-28s %8s %10s %12s %10s %8s\n", "file", "audio s", "cpu ms", "audio s/cpu s",
                "LUFS", "peak");
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        const std::string name = path.substr(path.find_last_of('/') + 1);
        std::int64_t frames = 0;
        int rate = 0;
        double best = 1e9;
        std::optional<MeasuredLoudness> measured;
        for (int run = 0; run < kRuns; ++run) {  // best of a few: a warm page cache
            const double start = threadCpuSeconds();
            measured = FileLoudness::measure(
                path, {.stop = {}, .stepDone = [&](std::int64_t n) { frames = n; }});
            best = std::min(best, threadCpuSeconds() - start);
        }
        // The rate, for the seconds of sound: what the decks play the file at.
        if (auto opened = Mp3Decoder::open(path); opened.decoder) rate = opened.decoder->rate();
        if (!measured || rate == 0 || best <= 0) {
            std::printf("%-28s failed\n", name.c_str());
            ++failures;
            continue;
        }
        const double audio = double(frames) / rate;
        std::printf("%-28s %8.1f %10.1f %12.0f %10.2f %8.3f\n", name.c_str(), audio, best * 1000,
                    audio / best, measured->integratedLufs, measured->samplePeak);
    }
    return failures ? 1 : 0;
}
