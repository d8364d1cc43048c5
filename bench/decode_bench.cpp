// Decoding speed of the deck (libmpg123 to float stereo, resampled to the output's 48 kHz, as
// the deck's decoder thread does it) against the mpg123 command on the same files, measured in
// the same run. Usage: decode_bench FILE.mp3...
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/decode/mp3_decoder.h"
#include "engine/decode/soxr_resampler.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;
constexpr int kOutputRate = 48000;

// Seconds to decode the whole file the deck's way; frames decoded in *frames.
double deckDecode(const std::string& path, std::size_t* frames, int* rate) {
    const auto start = Clock::now();
    auto opened = Mp3Decoder::open(path);
    if (!opened.decoder) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), opened.error.c_str());
        return -1;
    }
    Mp3Decoder& decoder = *opened.decoder;
    *rate = decoder.rate();
    SoxrResampler resampler;
    resampler.reset(decoder.rate(), kOutputRate);
    std::vector<StereoFrame> decoded(2304);
    std::vector<StereoFrame> converted;
    converted.reserve(8192);
    std::size_t total = 0;
    for (;;) {
        const auto result = decoder.read(decoded);
        converted.clear();
        resampler.process({decoded.data(), result.frames}, converted);
        total += result.frames;
        if (result.status != Mp3Decoder::Status::Ok) break;
    }
    *frames = total;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds for `mpg123 -q -t -e f32 FILE` (decodes to float, writes nothing), process included.
double commandDecode(const std::string& path) {
    const char* argv[] = {"mpg123", "-q", "-t", "-e", "f32", path.c_str(), nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "mpg123", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.mp3...\n", argv[0]);
        return 2;
    }
    std::printf("%-28s %8s %10s %10s %10s %8s\n", "file", "audio s", "deck ms", "x realtime",
                "mpg123 ms", "ratio");
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        double deckBest = 1e9;
        double commandBest = 1e9;
        std::size_t frames = 0;
        int rate = 1;
        for (int run = 0; run < kRuns; ++run) {  // interleaved, best of each: warm cache
            deckBest = std::min(deckBest, deckDecode(path, &frames, &rate));
            commandBest = std::min(commandBest, commandDecode(path));
        }
        if (deckBest < 0 || commandBest < 0) {
            std::printf("%-28s failed\n", path.c_str());
            ++failures;
            continue;
        }
        const double audio = double(frames) / rate;
        const std::string name = path.substr(path.find_last_of('/') + 1);
        std::printf("%-28s %8.1f %10.1f %10.0f %10.1f %8.2f\n", name.c_str(), audio,
                    deckBest * 1000, audio / deckBest, commandBest * 1000, deckBest / commandBest);
    }
    std::printf("ratio = deck time / mpg123 command time (below 1: the deck is faster)\n");
    return failures ? 1 : 0;
}
