// Speed of the loudness measure (decoding as the decks do, then libebur128): seconds of sound
// measured per second of one core's time, counted in CPU time of the measuring thread so that
// the other engineer's build or a busy machine does not change the figure. Usage:
//   loudness_bench FILE.mp3...
// and what measuring costs while deck 1 plays, on the output the player would choose: the
// process's CPU share with deck 1 alone, then while the measurer goes through the files, with
// the window's 10 ms tick's longest gap and deck 1's underruns meanwhile:
//   loudness_bench --while-playing PLAY.mp3 FILE.mp3...
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "components/error_sink.h"
#include "engine/decode/mp3_decoder.h"
#include "engine/loudness/file_loudness.h"
#include "engine/loudness/loudness_measurer.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"

namespace {

constexpr int kRuns = 3;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

class PrintedErrors : public ErrorSink {
public:
    void report(std::string_view cause) override {
        std::fprintf(stderr, "error: %.*s\n", int(cause.size()), cause.data());
    }
};

struct Span {
    double cpuShare = 0;  // of one core
    double wallSeconds = 0;
    double longestGapMs = 0;  // between two ticks
};

// Ticks deck 1 as the window does until `done` says so (or `seconds` have passed).
template <typename Done>
Span tick(Mp3Deck& deck, double seconds, Done done) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const double cpu = processCpuSeconds();
    Clock::time_point last = start;
    Span span;
    while (!done() && Clock::now() - start < std::chrono::duration<double>(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        deck.followOutput();
        const Clock::time_point now = Clock::now();
        span.longestGapMs = std::max(span.longestGapMs,
                                     std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    }
    span.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    span.cpuShare = (processCpuSeconds() - cpu) / span.wallSeconds;
    return span;
}

int whilePlaying(int argc, char** argv) {
    PrintedErrors errors;
    const std::unique_ptr<AudioOutput> output = chooseAudioOutput(errors);
    Mp3Deck deck(*output, errors, "Deck 1");
    deck.setFileName(argv[2]);
    deck.play();
    tick(deck, 1.0, [] { return false; });  // settled
    const Span alone = tick(deck, 5.0, [] { return false; });
    const int files = argc - 3;
    std::atomic<int> answered{0};
    const std::uint64_t underrunsBefore = deck.underrunFrames();
    Span measuring;
    {
        // One deck's lane holds one file at a time: each answer asks for the next file.
        std::atomic<int> next{4};
        LoudnessMeasurer* asking = nullptr;
        LoudnessMeasurer measurer(
            [&](const std::string&, const std::optional<MeasuredLoudness>&) {
                ++answered;
                if (const int i = next++; i < argc) asking->request(argv[i], 0, false);
            },
            {});
        asking = &measurer;
        measurer.request(argv[3], 0, false);
        measuring = tick(deck, 600.0, [&] { return answered.load() == files; });
    }
    const std::uint64_t underruns = deck.underrunFrames() - underrunsBefore;
    std::printf(
        "deck 1 alone: %.1f %% of a core; while %d files were measured (%.1f s): %.1f %%, "
        "the measure's share %.1f %%\n",
        alone.cpuShare * 100, files, measuring.wallSeconds, measuring.cpuShare * 100,
        (measuring.cpuShare - alone.cpuShare) * 100);
    std::printf(
        "meanwhile: longest gap between ticks %.1f ms (alone %.1f), deck 1's underruns "
        "%llu frames\n",
        measuring.longestGapMs, alone.longestGapMs, static_cast<unsigned long long>(underruns));
    return answered.load() == files ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string_view(argv[1]) == "--while-playing")
        return whilePlaying(argc, argv);
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
