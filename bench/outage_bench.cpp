// What the sound server's troubles cost the player, measured on servers of the bench's own (the
// private one goes on serving the other benchmarks).
//
// outage_bench wakeups SECONDS
//   The pulse output's timer wakeups a second while a deck plays but its disk gives nothing
//   (its stream's retries backed off to the watch's pace: about 4 and 4), and once the server is
//   gone with nothing playing (none).
// outage_bench hung-start FILE TRIES
//   How long the player's start on its output, a deck and a play of FILE take while the server
//   hangs: the window waits for none of it.
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "components/error_sink.h"
#include "doubles/starved_source.h"
#include "engine/deck/audio_source.h"
#include "engine/output/pulse/pulse_output.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"
#include "support/own_pulse_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class PrintedErrors final : public ErrorSink {
public:
    void report(std::string_view cause) override {
        std::fprintf(stderr, "(reported: %.*s)\n", int(cause.size()), cause.data());
    }
};

// A server of the bench's own, and the player's outputs pointed at it.
struct OwnServer {
    OwnServer() : dir(makeDir()), server(dir) {
        if (!server.start()) throw std::runtime_error("cannot start a PulseAudio server");
        ::setenv("PULSE_SERVER", server.address().c_str(), 1);
        ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    }
    ~OwnServer() {
        server.kill();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    static std::string makeDir() {
        char path[] = "/tmp/velmor-outage-bench.XXXXXX";
        if (!::mkdtemp(path)) throw std::runtime_error("cannot make a folder");
        return path;
    }
    std::string dir;
    OwnPulseServer server;
};

int wakeups(double seconds) {
    OwnServer own;
    PrintedErrors errors;
    std::string cause;
    auto output = PulseOutput::connect(errors, {}, 3s, cause);
    if (!output) throw std::runtime_error("no sound server: " + cause);
    const auto span = std::chrono::duration<double>(seconds);
    const auto perSecond = [&] {
        const std::uint64_t before = output->timerWakeups();
        std::this_thread::sleep_for(span);
        return double(output->timerWakeups() - before) / seconds;
    };
    StarvedSource source;
    output->addSource(&source);
    output->ensureOpen();
    output->follow(source);
    std::this_thread::sleep_for(500ms);  // the backoff reaches its longest
    const double starved = perSecond();
    source.playing = false;
    output->follow(source);
    own.server.kill();
    std::this_thread::sleep_for(1s);  // the loss is seen and the connection dropped
    const double idle = perSecond();
    output->removeSource(&source);
    std::printf(
        "pulse output: %.1f wakeups a second while a deck waits for data, %.1f with the "
        "server gone and nothing playing\n",
        starved, idle);
    return 0;
}

int hungStart(const std::string& file, int tries) {
    std::string list;
    double longest = 0;
    for (int i = 0; i < tries; ++i) {
        OwnServer own;
        PrintedErrors errors;
        own.server.freeze();
        const auto start = Clock::now();
        {
            std::unique_ptr<AudioOutput> output = chooseAudioOutput(errors);
            Mp3Deck deck(*output, errors, "Deck 1");
            deck.setFileName(file);
            deck.play();
            const double took =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            longest = std::max(longest, took);
            char item[32];
            std::snprintf(item, sizeof item, " %.1f", took);
            list += item;
            own.server.thaw();
        }
    }
    std::printf(
        "the start, a deck and a play while the sound server hangs: longest %.1f ms\n"
        "  each try (ms):%s\n",
        longest, list.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "wakeups" && argc == 3) return wakeups(std::stod(argv[2]));
        if (mode == "hung-start" && argc == 4) return hungStart(argv[2], std::stoi(argv[3]));
        std::fprintf(stderr,
                     "usage: %s wakeups SECONDS\n"
                     "       %s hung-start FILE TRIES\n",
                     argv[0], argv[0]);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "outage_bench: %s\n", e.what());
        return 1;
    }
}
