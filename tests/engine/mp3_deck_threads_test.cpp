// How the deck's threads meet: the decoder sleeps until it is needed, any command stops a
// length scan, a broken file is opened once, and a deck whose thread cannot start leaves
// nothing behind in the output and tries again at the next file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>

#include "support/fade_in.h"
#include "support/file_text.h"
#include "support/manual_deck_rig.h"
#include "support/open_counter.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Times the thread named `name` has gone to sleep of its own accord; nullopt if there is not
// exactly one such thread.
std::optional<long> voluntarySwitchesOf(const std::string& name) {
    std::optional<long> found;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm != name) continue;
        if (found) return std::nullopt;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) found = std::stol(line.substr(24));
    }
    return found;
}

// The decoder sleeps while nothing needs it and is woken to refill, not on a timer: few
// wake-ups while paused or playing in real time.
TEST(Mp3DeckThreads, TheDecoderSleepsUntilItIsNeeded) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 4, {.rate = 44100});
    ManualDeckRig rig(48000);
    Mp3Deck& deck = rig.deck();
    deck.setFileName(mp3);
    deck.play();
    rig.render(4800);
    deck.pause();
    ASSERT_TRUE(rig.waitUntilReady(DeckStream::kRingFrames - 2304, 5s));
    std::this_thread::sleep_for(50ms);

    const auto beforePause = voluntarySwitchesOf("deck decoder");
    ASSERT_TRUE(beforePause) << "one decoder thread, named";
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(*voluntarySwitchesOf("deck decoder") - *beforePause, 1) << "paused";

    // Real time, 512 frames every 10.7 ms: the decoder refills half a ring at a time.
    deck.play();
    const auto beforePlay = voluntarySwitchesOf("deck decoder");
    std::vector<StereoFrame> buffer(512);
    auto next = Clock::now();
    for (int i = 0; i < 47; ++i) {  // half a second
        rig.output->render(buffer.data(), 512);
        next += std::chrono::microseconds(10667);
        std::this_thread::sleep_until(next);
    }
    EXPECT_LE(*voluntarySwitchesOf("deck decoder") - *beforePlay, 20) << "playing";
    EXPECT_EQ(deck.underrunFrames(), 0u);
}

// A file without a length header is scanned for its exact length; a command given meanwhile
// is served at once, sample-exact, and the length still comes.
TEST(Mp3DeckThreads, ACommandIsServedBeforeALengthScan) {
    TempDir dir;
    const std::string one =
        makeToneMp3(dir.path(), "one.mp3", 440, 1, {.rate = 44100, .vbr = true, .infoTag = false});
    const std::string bytes = fileText(one);
    auto repeated = [&](const std::string& name, int times) {
        std::ofstream out(dir.file(name), std::ios::binary);
        for (int i = 0; i < times; ++i) out.write(bytes.data(), std::streamsize(bytes.size()));
        return dir.file(name);
    };
    const std::string hour = repeated("hour.mp3", 3600);
    // Each copy decodes alike once a frame into it, so two copies show what any copy holds.
    const DecodedAudio two = decodeWithMpg123(repeated("two.mp3", 2));
    const std::size_t copyFrames = two.frames() / 2;
    ManualDeckRig rig(44100);
    Mp3Deck& deck = rig.deck();
    deck.setFileName(hour);
    const double estimate = deck.duration();
    deck.play();
    rig.render(4410);
    std::this_thread::sleep_for(30ms);  // the scan of 19 MB has begun

    deck.stepForward();
    ASSERT_TRUE(rig.waitUntilReady(ManualDeckRig::kBuffer, 5s));
    EXPECT_EQ(deck.duration(), estimate) << "the step waited for the scan";
    const std::size_t target = std::size_t(std::llround(deck.currentPosition() * 44100));
    const auto played = rig.render(4410);
    const std::size_t intoCopy = target % copyFrames;
    ASSERT_LT(intoCopy + 4410, copyFrames) << "choose another step";
    // The new place rises from silence (the stale frames were dropped while the rig waited).
    double worst = 0;
    for (std::size_t i = 0; i < played.size(); ++i)
        worst = std::max(
            worst, double(std::fabs(played[i].left -
                                    fadeInAt(i) * two.samples[(copyFrames + intoCopy + i) * 2])));
    EXPECT_LT(worst, 1e-6);

    const auto deadline = Clock::now() + 20s;
    while (deck.duration() == estimate && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    const double exact = double(copyFrames) * 3600 / 44100;
    EXPECT_DOUBLE_EQ(deck.duration(), exact) << "the scan was made after all";
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST(Mp3DeckThreads, ABrokenFileIsOpenedOncePerPlay) {
    TempDir dir;
    const std::string path = dir.file("noise.mp3");
    std::ofstream(path, std::ios::binary) << std::string(200 * 1024, '\x55');
    ManualDeckRig rig(44100);
    OpenCounter opens(path);
    // A local file's refusal usually comes with the click; on a loaded machine it may come
    // later, once the deck has played to the empty track's end.
    const auto refused = [&] {
        return rig.askUntil([&] { return rig.deck().playState() == Deck::Stopped; }, 20s);
    };
    rig.deck().setFileName(path);
    rig.deck().play();
    EXPECT_TRUE(refused());
    EXPECT_EQ(rig.errors.taken().size(), 1u);
    EXPECT_EQ(opens.take(), 1);
    rig.deck().play();  // tried again
    EXPECT_TRUE(refused());
    EXPECT_EQ(rig.errors.taken().size(), 2u);
    EXPECT_EQ(opens.take(), 2);
}

// A deck whose decoder thread cannot start does not take the window down: one line says so,
// the thread is tried again at the next file, and it leaves no source behind in the output.
TEST(Mp3DeckThreads, ADeckWhoseThreadCannotStartLeavesNoSourceBehind) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve address space beyond any limit";
#elif !defined(NDEBUG)
    GTEST_SKIP() << "an asserting build stops at the failed check";
#else
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 1, {.rate = 48000});
    RecordingErrorSink errors;
    SdlOutput::Options options;
    options.useDevice = false;
    SdlOutput output(errors, options);

    // Room for a deck's ring, none for a thread's stack.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (1 << 20);
    setrlimit(RLIMIT_AS, &tight);
    for (int i = 0; i < AudioOutput::kMaxSources; ++i) Mp3Deck passing(output, errors);
    auto doomed = std::make_unique<Mp3Deck>(output, errors);
    setrlimit(RLIMIT_AS, &old);
    const auto lines = errors.taken();
    const auto refused = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("decoder thread could not start") != std::string::npos;
    });
    // The C library keeps the stacks of ended threads for reuse: run alone (as ctest does).
    if (refused == 0) GTEST_SKIP() << "a cached thread stack was reused";
    ASSERT_EQ(refused, AudioOutput::kMaxSources + 1);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(refused));
    // Its thread is tried again at the next file, and with room for it now, the file plays.
    doomed->setFileName(mp3);
    doomed->play();
    EXPECT_EQ(doomed->playState(), Deck::Playing);
    EXPECT_EQ(errors.taken().size(), lines.size());  // not a line more
    doomed.reset();

    // Every slot of the output is still free: a deck made now is heard.
    Mp3Deck deck(output, errors);
    deck.setFileName(mp3);
    deck.play();
    std::vector<StereoFrame> out(4800);
    const auto deadline = Clock::now() + 5s;
    while (deck.stream().publishedWriteIndex() < 4800 && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    output.render(out.data(), 4800);
    EXPECT_GT(toneAmplitude(leftOf(out), 48000, 440), 0.4);
#endif
}

}  // namespace
