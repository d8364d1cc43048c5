// What is heard, measured from a recording of the private sound server's sink.
//
// sound_bench joins SECONDS FREQ... -- COMMAND [ARG...]
//   Runs COMMAND (a player given tone tracks of the frequencies FREQ..., in that order) for
//   SECONDS while recording, and prints the silence heard at each change of track.
// sound_bench latency DIR TRIES
//   The player's window on the real components as the program builds it, with DIR (holding
//   one tone file) as its playlist: the time from "Play" after "Stop", and from "Play Dir"
//   after "Stop", to the first sound, TRIES times each; then the same for the mpg123 command
//   started on that file.
// sound_bench control NAME TRIES PAUSE PLAY MUTE UNMUTE
//   A player already playing a steady tone: how soon each shell command's effect is heard
//   (silence after PAUSE and MUTE, sound after PLAY and UNMUTE), counted from the command's
//   start, TRIES times each, less the recorder's own delay (a burst through pacat); and how
//   long the command itself took (a D-Bus client's start is part of it).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/form1.h"
#include "app/real_components.h"
#include "sound_measures.h"
#include "support/sink_recorder.h"

extern char** environ;

namespace {

using Clock = SinkRecorder::Clock;
using std::chrono::milliseconds;

constexpr float kOnset = 0.05f;  // the tone files are at half scale
constexpr auto kQuiet = milliseconds(400);
// Longer than the output keeps a device open with nothing playing (SdlOutput::Options).
constexpr auto kRested = milliseconds(11000);
constexpr auto kLongestWait = milliseconds(2000);
// The recorder's pieces: small, so that each arrives soon after the sink rendered it.
constexpr int kPieceMs = 2;

pid_t spawn(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + command.front());
    return pid;
}

// At once, whatever the program would do on SIGTERM.
void end(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// Lets the window's event loop run for a while.
void runFor(Clock::duration span) {
    const Clock::time_point until = Clock::now() + span;
    while (Clock::now() < until) {
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(milliseconds(1));
    }
}

// Milliseconds from `start` to the first sound recorded from frame `from` on; nullopt when
// none comes within kLongestWait. The event loop keeps running meanwhile.
std::optional<double> waitForSound(const SinkRecorder& recorder, std::size_t from,
                                   Clock::time_point start) {
    while (Clock::now() - start < kLongestWait) {
        if (const auto onset = recorder.firstAbove(from, kOnset)) {
            return std::chrono::duration<double, std::milli>(recorder.timeOf(*onset) - start)
                .count();
        }
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(milliseconds(1));
    }
    return std::nullopt;
}

void report(const char* what, const std::vector<std::optional<double>>& tries) {
    std::vector<double> heard;
    std::string list;
    for (const auto& t : tries) {
        char item[32];
        std::snprintf(item, sizeof item, t ? " %.0f" : " -", t ? *t : 0.0);
        list += item;
        if (t) heard.push_back(*t);
    }
    std::sort(heard.begin(), heard.end());
    const bool all = heard.size() == tries.size();
    const double median = heard.empty() ? 0 : heard[heard.size() / 2];
    const double longest = heard.empty() ? 0 : heard.back();
    const auto over = std::count_if(heard.begin(), heard.end(), [](double t) { return t >= 50; });
    std::printf("%-28s median %5.1f ms, longest %5.1f ms, %ld of %zu at 50 ms or more%s\n", what,
                median, longest, long(over) + long(tries.size() - heard.size()), tries.size(),
                all ? "" : " (some never sounded)");
    std::printf("  each try (ms):%s\n", list.c_str());
}

int latency(int argc, char** argv) {
    const std::string dir =
        QDir(QString::fromLocal8Bit(argv[2])).absolutePath().toStdString() + "/";
    const int tries = std::stoi(argv[3]);
    const QStringList files = QDir(QString::fromStdString(dir)).entryList({"*.mp3"}, QDir::Files);
    if (files.isEmpty()) throw std::runtime_error("no .mp3 file in " + dir);
    const std::string file = dir + files.front().toStdString();

    QApplication app(argc, argv);
    QApplication::setApplicationName("velmor-mp3-player");
    QTemporaryDir settings;
    Form1* form = createWindowOnRealComponents(
        SettingsPaths(settings.filePath("velmor-mp3-player.ini").toStdString()));
    form->show();
    runFor(milliseconds(500));
    auto owned = std::make_unique<SinkRecorder>("velmor_null.monitor", kPieceMs);
    const SinkRecorder& recorder = *owned;
    form->openPath(dir);
    runFor(milliseconds(500));

    const auto measureAfter = [&](milliseconds quiet, int count, auto&& start) {
        std::vector<std::optional<double>> results;
        for (int i = 0; i < count; ++i) {
            form->controls().Command3->click();  // "Stop"
            runFor(quiet);
            const std::size_t from = recorder.frames();
            const Clock::time_point t0 = Clock::now();
            start();
            results.push_back(waitForSound(recorder, from, t0));
        }
        return results;
    };
    const auto measure = [&](auto&& start) { return measureAfter(kQuiet, tries, start); };
    report("player: \"Play\" after \"Stop\"", measure([&] { form->controls().Command1->click(); }));
    report("player: \"Play Dir\" after \"Stop\"", measure([&] { form->openPath(dir); }));
    // Stopped for longer than the output keeps an unused device open: "Play" opens it again.
    report("player: \"Play\", device closed",
           measureAfter(kRested, std::min(tries, 5), [&] { form->controls().Command1->click(); }));
    form->controls().Command3->click();
    runFor(kQuiet);

    std::vector<std::optional<double>> reference;
    for (int i = 0; i < tries; ++i) {
        const std::size_t from = recorder.frames();
        const Clock::time_point t0 = Clock::now();
        const pid_t pid = spawn({"mpg123", "-q", "-o", "pulse", file});
        reference.push_back(waitForSound(recorder, from, t0));
        end(pid);
        runFor(kQuiet);
    }
    report("mpg123 started on the file", reference);
    owned.reset();
    std::fflush(stdout);
    std::_Exit(0);  // as the player does: no waiting for the sound server
}

// Milliseconds from `start` to the silence from frame `from` on (20 ms below kOnset).
std::optional<double> waitForSilence(const SinkRecorder& recorder, std::size_t from,
                                     Clock::time_point start) {
    while (Clock::now() - start < kLongestWait) {
        if (const auto quiet = recorder.firstQuiet(from, kOnset, SinkRecorder::kRate / 50)) {
            return std::chrono::duration<double, std::milli>(recorder.timeOf(*quiet) - start)
                .count();
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return std::nullopt;
}

// The recorder's own delay: a 100 ms burst written to pacat at 1 ms of latency, from the write
// to its onset in the recording.
double recorderDelay(const SinkRecorder& recorder) {
    std::vector<double> delays;
    std::vector<float> burst(SinkRecorder::kRate / 10 * SinkRecorder::kChannels, 0.5f);
    for (int i = 0; i < 5; ++i) {
        FILE* pacat = ::popen(
            "pacat --raw --format=float32le --rate=48000 --channels=2 "
            "--latency-msec=1",
            "w");
        if (!pacat) throw std::runtime_error("cannot start pacat");
        std::this_thread::sleep_for(milliseconds(300));  // connected and waiting
        const std::size_t from = recorder.frames();
        const Clock::time_point t0 = Clock::now();
        std::fwrite(burst.data(), sizeof(float), burst.size(), pacat);
        std::fflush(pacat);
        if (const auto heard = waitForSound(recorder, from, t0)) delays.push_back(*heard);
        ::pclose(pacat);
        std::this_thread::sleep_for(milliseconds(200));
    }
    if (delays.empty()) throw std::runtime_error("the burst was never recorded");
    std::sort(delays.begin(), delays.end());
    return delays[delays.size() / 2];
}

// The largest step between two neighbouring samples of the left channel in [from, to): a cut
// from full swing to silence is many times a steady tone's own.
double largestStep(const std::vector<float>& interleaved, std::size_t from, std::size_t to) {
    double largest = 0;
    to = std::min(to, interleaved.size() / SinkRecorder::kChannels);
    for (std::size_t i = from + 1; i < to; ++i)
        largest =
            std::max(largest, double(std::fabs(interleaved[i * SinkRecorder::kChannels] -
                                               interleaved[(i - 1) * SinkRecorder::kChannels])));
    return largest;
}

int control(int argc, char** argv) {
    const std::string name = argv[2];
    const int tries = std::stoi(argv[3]);
    QCoreApplication app(argc, argv);  // waitForSound runs an event loop
    // Pieces of 1 ms here: the null sink renders ahead by its smallest client's piece and its
    // monitor passes that on at once, so a rewind into it (a player that writes a fade over
    // what the server holds, or one that flushes) reaches the recording as a splice that a
    // sound card's sink would not play.
    SinkRecorder recorder("velmor_null.monitor", 1);
    const double delay = recorderDelay(recorder);
    const auto run = [](const char* command) {
        const Clock::time_point start = Clock::now();
        if (std::system(command) != 0) throw std::runtime_error(std::string("failed: ") + command);
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const struct {
        const char* what;
        const char* command;
        bool toSilence;
    } steps[] = {{"pause to silence", argv[4], true},
                 {"play to sound", argv[5], false},
                 {"volume 0 to silence", argv[6], true},
                 {"volume back to sound", argv[7], false}};
    std::vector<std::optional<double>> results[4];
    std::vector<double> took;
    // The clicks of pause and play: the largest step at the cut over the tone's own, taken
    // from the steady tone before the pause.
    std::vector<std::optional<double>> clicks[2];
    constexpr std::size_t kWindow = SinkRecorder::kRate * 3 / 10;
    for (int i = 0; i < tries; ++i) {
        double own = 0;
        for (int step = 0; step < 4; ++step) {
            std::this_thread::sleep_for(kQuiet);
            const std::size_t from = recorder.frames();
            if (step == 0) {
                const std::vector<float> before = recorder.samples();
                own = largestStep(before, from - std::min(from, kWindow), from);
            }
            const Clock::time_point t0 = Clock::now();
            took.push_back(run(steps[step].command));
            std::optional<double> heard = steps[step].toSilence ? waitForSilence(recorder, from, t0)
                                                                : waitForSound(recorder, from, t0);
            if (heard) heard = std::max(0.0, *heard - delay);
            results[step].push_back(heard);
            if (step < 2) {
                while (recorder.frames() < from + kWindow)
                    std::this_thread::sleep_for(milliseconds(5));
                const double cut = largestStep(recorder.samples(), from, from + kWindow);
                clicks[step].push_back(own > 0 ? std::optional<double>(cut / own) : std::nullopt);
            }
        }
    }
    std::sort(took.begin(), took.end());
    std::printf(
        "(the recorder's own delay, taken off: %.1f ms; the commands took %.1f ms, median)\n",
        delay, took[took.size() / 2]);
    for (int step = 0; step < 4; ++step)
        report((name + ": " + steps[step].what).c_str(), results[step]);
    for (int step = 0; step < 2; ++step) {
        std::vector<double> ratios;
        for (const auto& ratio : clicks[step])
            if (ratio) ratios.push_back(*ratio);
        std::sort(ratios.begin(), ratios.end());
        if (ratios.empty()) continue;
        std::printf("%s: largest step at %s: %.2f x the tone's own (median of %zu; most %.2f)\n",
                    name.c_str(), step == 0 ? "pause" : "play", ratios[ratios.size() / 2],
                    ratios.size(), ratios.back());
    }
    return 0;
}

int joins(int argc, char** argv) {
    const double seconds = std::stod(argv[2]);
    std::vector<double> frequencies;
    int i = 3;
    for (; i < argc && std::string(argv[i]) != "--"; ++i) frequencies.push_back(std::stod(argv[i]));
    if (i + 1 >= argc || frequencies.size() < 2) throw std::runtime_error("no command or tones");
    const std::vector<std::string> command(argv + i + 1, argv + argc);

    SinkRecorder recorder("velmor_null.monitor", kPieceMs);
    const pid_t pid = spawn(command);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    end(pid);
    const std::vector<float> stereo = recorder.samples();
    std::vector<float> recording(stereo.size() / SinkRecorder::kChannels);
    for (std::size_t i = 0; i < recording.size(); ++i)
        recording[i] = stereo[i * SinkRecorder::kChannels];
    // For a closer look: the recording (left channel) as raw 32-bit float frames, 48 kHz.
    if (const char* keep = std::getenv("SOUND_BENCH_RECORDING")) {
        if (FILE* out = std::fopen(keep, "wb")) {
            std::fwrite(recording.data(), sizeof(float), recording.size(), out);
            std::fclose(out);
        }
    }
    const ToneSequence heard = measureToneSequence(recording, SinkRecorder::kRate, frequencies);
    std::string silences;
    for (const Join& join : heard.joins) {
        char item[64];
        std::snprintf(item, sizeof item, " %.1f", join.silenceMs);
        silences += item;
    }
    std::printf("%-18s silence at each join (ms):%s%s; longest dropout elsewhere %.1f ms\n",
                command.front().substr(command.front().rfind('/') + 1).c_str(),
                silences.empty() ? " none found" : silences.c_str(),
                heard.complete ? "" : " (not every track was heard)", heard.longestDropoutMs);
    return heard.complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "latency" && argc == 4) return latency(argc, argv);
        if (mode == "joins" && argc > 3) return joins(argc, argv);
        if (mode == "control" && argc == 8) return control(argc, argv);
        std::fprintf(stderr,
                     "usage: %s joins SECONDS FREQ... -- COMMAND [ARG...]\n"
                     "       %s latency DIR TRIES\n"
                     "       %s control NAME TRIES PAUSE PLAY MUTE UNMUTE\n",
                     argv[0], argv[0], argv[0]);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sound_bench: %s\n", e.what());
        return 1;
    }
}
