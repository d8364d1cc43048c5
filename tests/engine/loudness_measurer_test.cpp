// The measurer against real files: what libebur128 gives for tones of known level, its thread,
// its queue, its cache, and files that break off.
#include "engine/loudness/loudness_measurer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "components/stranded_threads.h"
#include "engine/loudness/levelling_gain.h"
#include "engine/loudness/loudness_cache.h"
#include "support/file_text.h"
#include "support/hanging_mount.h"
#include "support/measure_gate.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;

// What the listener heard, in order, and which thread told it.
class Heard {
public:
    LoudnessMeasurer::Listener listener() {
        return [this](const std::string& path, const std::optional<MeasuredLoudness>& result) {
            std::lock_guard guard(lock);
            results.emplace_back(path, result);
            threads.push_back(std::this_thread::get_id());
            niceness.push_back(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())));
            changed.notify_all();
        };
    }
    // Waits (generously) for `count` results.
    bool waitFor(std::size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 120s, [&] { return results.size() >= count; });
    }
    std::vector<std::pair<std::string, std::optional<MeasuredLoudness>>> taken() {
        std::lock_guard guard(lock);
        return results;
    }
    std::vector<std::thread::id> threadIds() {
        std::lock_guard guard(lock);
        return threads;
    }
    std::vector<int> nicenessSeen() {
        std::lock_guard guard(lock);
        return niceness;
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<std::string, std::optional<MeasuredLoudness>>> results;
    std::vector<std::thread::id> threads;
    std::vector<int> niceness;
};

ToneOptions untagged(double amplitude) {
    return {.amplitude = amplitude, .replayGain = false};
}

double dbfs(double amplitude) {
    return 20 * std::log10(amplitude);
}

// A sine of the same level in both channels has the loudness of its peak level in dBFS (the
// calibration of EBU R128 near 1 kHz): loud and quiet files are measured so, and brought to the
// reference by the gain they get.
TEST(LoudnessMeasurer, TonesMeasureAsLibebur128CalibratesThem) {
    TempDir dir;
    struct Case {
        const char* name;
        double amplitude;
        double frequency;
    };
    const std::vector<Case> cases = {{"loud.mp3", 0.5, 997}, {"quiet.mp3", 0.0316, 997}};
    Heard heard;
    LoudnessMeasurer measurer(heard.listener(), {});
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        measurer.request(makeToneMp3(dir.path(), c.name, c.frequency, 10, untagged(c.amplitude)),
                         static_cast<int>(i), false);
    }
    ASSERT_TRUE(heard.waitFor(cases.size()));
    std::map<std::string, std::optional<MeasuredLoudness>> results;
    for (const auto& [path, result] : heard.taken()) results[path] = result;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto result = results[dir.file(cases[i].name)];
        ASSERT_TRUE(result.has_value());
        const MeasuredLoudness& measured = *result;
        EXPECT_NEAR(measured.integratedLufs, dbfs(cases[i].amplitude), 0.5);
        EXPECT_NEAR(measured.samplePeak, cases[i].amplitude, cases[i].amplitude * 0.05);
        const auto gain = Levelling::gain({{}, measured}, LevellingMode::Track, 0);
        ASSERT_TRUE(gain.has_value());
        EXPECT_NEAR(measured.integratedLufs + 20 * std::log10(*gain), -18, 1.0);
    }
}

// The caller's thread never measures and never waits: requests return while the measurer,
// at the lowest priority, is held inside the deck's current file. What the deck asks for next
// replaces what it asked for next before; the file it plays is measured once.
TEST(LoudnessMeasurer, MeasuresADecksCurrentFileAndItsLatestNextOffTheCallersThread) {
    TempDir dir;
    const std::string current = makeToneMp3(dir.path(), "current.mp3", 440, 3, untagged(0.5));
    const std::string skipped = makeToneMp3(dir.path(), "skipped.mp3", 440, 1, untagged(0.25));
    const std::string next = makeToneMp3(dir.path(), "next.mp3", 440, 1, untagged(0.125));
    Heard heard;
    MeasureGate gate;
    LoudnessMeasurer measurer(heard.listener(), {.stepDone = gate.hook()});
    measurer.request(current, 0, true);
    ASSERT_EQ(gate.waitUntilHeld(), current);
    // The measurer is stuck inside `current`: each of these returns all the same.
    measurer.request(skipped, 0, false);
    measurer.request(current, 0, true);
    measurer.request(current, 0, false);
    measurer.request(next, 0, false);
    gate.release();
    ASSERT_TRUE(heard.waitFor(2));
    // Asked again once measured: answered from what was measured.
    measurer.request(current, 0, true);
    ASSERT_TRUE(heard.waitFor(3));
    const auto results = heard.taken();
    const std::vector<std::string> order = {current, next, current};
    ASSERT_EQ(results.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(results[i].first, order[i]) << i;
    EXPECT_EQ(results[2].second, results[0].second);
    EXPECT_EQ(measurer.decodes(), 2u);
    for (const auto id : heard.threadIds()) EXPECT_NE(id, std::this_thread::get_id());
    // Yields the cores to everything else.
    for (const int nice : heard.nicenessSeen()) EXPECT_EQ(nice, 19);
}

// Copies of one short tone under `count` names: files to skip through.
std::vector<std::string> copiesOf(const TempDir& dir, const std::string& name, int count) {
    const std::string bytes =
        fileText(makeToneMp3(dir.path(), name + ".mp3", 440, 1, untagged(0.25)));
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        paths.push_back(dir.file(name + std::to_string(i) + ".mp3"));
        std::ofstream(paths.back(), std::ios::binary) << bytes;
    }
    return paths;
}

// Skipping through a long list while the disk holds every read: the files skipped are dropped
// unmeasured (one begun is abandoned at its next step), the threads held meanwhile are bounded,
// and once the disk answers the deck's current file and its next are measured, nothing else.
TEST(LoudnessMeasurer, SkippingThroughFiveHundredFilesMeasuresOnlyWhereTheDeckStopped) {
    TempDir dir;
    const std::vector<std::string> files = copiesOf(dir, "entry", 502);
    Heard heard;
    MeasureGate gate(MeasureGate::Holds::EveryFile);
    {
        LoudnessMeasurer measurer(heard.listener(), {.stepDone = gate.hook()});
        measurer.request(files[0], 0, true);
        ASSERT_EQ(gate.waitUntilHeld(), files[0]);
        for (std::size_t i = 1; i + 1 < files.size(); ++i) {
            measurer.request(files[i], 0, true);
            measurer.request(files[i + 1], 0, false);
        }
        gate.release();
        ASSERT_TRUE(heard.waitFor(2));
    }
    const auto results = heard.taken();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].first, files[500]);
    EXPECT_EQ(results[1].first, files[501]);
    for (const auto& [path, result] : results) EXPECT_TRUE(result.has_value()) << path;
    EXPECT_LE(gate.mostHeldAtOnce(), StrandedThreads::kPerDisk + 1);
}

// A file whose disk does not answer holds its own thread: the other deck's files, and the
// same deck's next file, are measured meanwhile; the hung one is never reported.
TEST(LoudnessMeasurer, AHungFileHoldsNeitherTheOtherDeckNorTheNextFile) {
    TempDir dir;
    const std::string hung = makeToneMp3(dir.path(), "hung.mp3", 440, 1, untagged(0.5));
    const std::string other = makeToneMp3(dir.path(), "other.mp3", 440, 1, untagged(0.25));
    const std::string after = makeToneMp3(dir.path(), "after.mp3", 440, 1, untagged(0.125));
    Heard heard;
    MeasureGate gate(MeasureGate::Holds::EveryFile, "hung");
    {
        LoudnessMeasurer measurer(heard.listener(), {.stepDone = gate.hook()});
        measurer.request(hung, 0, true);
        ASSERT_EQ(gate.waitUntilHeld(), hung);
        measurer.request(other, 1, true);
        ASSERT_TRUE(heard.waitFor(1));
        measurer.request(after, 0, true);
        ASSERT_TRUE(heard.waitFor(2));
        gate.release();
    }
    const auto results = heard.taken();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].first, other);
    EXPECT_EQ(results[1].first, after);
}

// Twenty files skipped through on a disk that does not answer (a FUSE file system whose reads
// hang) leave that disk its share of threads and no more; a file on a disk that answers is
// measured meanwhile.
TEST(LoudnessMeasurer, AFileOnADiskThatAnswersIsMeasuredWhileAHungDiskHoldsItsShare) {
    TempDir dir, shared, fuse;
    const std::string bytes = fileText(makeToneMp3(dir.path(), "tone.mp3", 440, 1, untagged(0.25)));
    constexpr int kFiles = 20;
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(shared.file("hang " + std::to_string(i) + ".mp3"), std::ios::binary) << bytes;
    const std::string local = makeToneMp3(dir.path(), "local.mp3", 440, 1, untagged(0.125));
    HangingMount mount(shared.path(), fuse.path());
    if (!mount.available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    StrandedThreads& keeper = StrandedThreads::process();
    const auto hung = [&](int i) { return "hang " + std::to_string(i) + ".mp3"; };
    Heard heard;
    {
        LoudnessMeasurer measurer(heard.listener(), {});
        for (int i = 0; i < kFiles; ++i) {
            measurer.request(mount.path(hung(i)), 0, true);
            // Its read hangs, or it is not begun: each skipped one is then left on the disk.
            ASSERT_TRUE(::waitFor(
                [&] {
                    return mount.holds(hung(i)) ||
                           keeper.held(mount.path(hung(i))) >= StrandedThreads::kPerDisk;
                },
                10s));
        }
        EXPECT_EQ(keeper.held(mount.path(hung(0))), StrandedThreads::kPerDisk);
        measurer.request(local, 0, true);
        ASSERT_TRUE(heard.waitFor(1)) << "the local file waits behind the hung disk";
        EXPECT_EQ(heard.taken()[0].first, local);
        EXPECT_TRUE(heard.taken()[0].second.has_value());
        EXPECT_EQ(keeper.held(mount.path(hung(0))), StrandedThreads::kPerDisk);
        mount.release();
    }
    EXPECT_EQ(heard.taken().size(), 1u);  // nothing of the files skipped
}

TEST(LoudnessMeasurer, StopsAtOnceInsideALongFile) {
    TempDir dir;
    // Twenty minutes: hundreds of steps for the measurer, a moment to make. Without a header
    // its frames follow each other to the end.
    const std::string minute = fileText(
        makeToneMp3(dir.path(), "minute.mp3", 440, 60, {.infoTag = false, .replayGain = false}));
    std::string bytes;
    for (int i = 0; i < 20; ++i) bytes += minute;
    const std::string longFile = dir.file("long.mp3");
    std::ofstream(longFile, std::ios::binary) << bytes;
    Heard heard;
    struct Steps {
        std::mutex lock;
        std::condition_variable changed;
        int count = 0;
    };
    auto steps = std::make_shared<Steps>();
    {
        LoudnessMeasurer measurer(heard.listener(),
                                  {.stepDone = [steps](const std::string&, std::int64_t) {
                                      std::lock_guard guard(steps->lock);
                                      ++steps->count;
                                      steps->changed.notify_all();
                                  }});
        measurer.request(longFile, 0, false);
        std::unique_lock guard(steps->lock);
        ASSERT_TRUE(steps->changed.wait_for(guard, 120s, [&] { return steps->count > 0; }));
    }
    // About 800 steps in the file; the measurer went within a step or two of being told,
    // without a word to the listener.
    std::lock_guard guard(steps->lock);
    EXPECT_LT(steps->count, 10);
    EXPECT_TRUE(heard.taken().empty());
}

void setModified(const std::string& path, std::int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Measured once and kept: a measurer of another run answers without decoding until the file's
// size or time changes.
TEST(LoudnessMeasurer, TheCacheAnswersUntilTheFileChanges) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 997, 3, untagged(0.5));
    setModified(mp3, 1700000000);
    const std::string cacheFile = loudnessCacheFile(dir.file("cache"));
    std::optional<MeasuredLoudness> measured;
    struct Step {
        const char* name;
        std::function<void()> change;
        std::uint64_t decodes;
    };
    const std::vector<Step> steps = {
        {"first run measures", [] {}, 1},
        {"second run reuses", [] {}, 0},
        {"time changed", [&] { setModified(mp3, 1700000001); }, 1},
        {"reused again", [] {}, 0},
        {"size changed",
         [&] {
             std::ofstream(mp3, std::ios::binary | std::ios::app) << std::string(1, '\0');
             setModified(mp3, 1700000001);
         },
         1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        Heard heard;
        {
            LoudnessMeasurer measurer(heard.listener(), {.cacheFile = cacheFile});
            measurer.request(mp3, 0, false);
            ASSERT_TRUE(heard.waitFor(1));
            EXPECT_EQ(measurer.decodes(), step.decodes);
        }
        const auto result = heard.taken().at(0).second;
        ASSERT_TRUE(result.has_value());
        if (measured) {
            EXPECT_NEAR(result->integratedLufs, measured->integratedLufs, 0.01);
        }
        measured = result;
    }
    EXPECT_EQ(LoudnessCache::parse(fileText(cacheFile)).size(), 1u);
}

// Each write rewrites and syncs the whole file: files measured one after another are written
// once, then when the measurer goes, not after each of them.
TEST(LoudnessMeasurer, TheCacheIsWrittenAtMostOnceInItsInterval) {
    TempDir dir;
    const std::vector<std::string> files = copiesOf(dir, "track", 4);
    const std::string cacheFile = loudnessCacheFile(dir.file("cache"));
    Heard heard;
    {
        LoudnessMeasurer measurer(
            heard.listener(), {.cacheFile = cacheFile, .cacheWriteEvery = std::chrono::hours(1)});
        for (std::size_t i = 0; i < files.size(); ++i) {
            measurer.request(files[i], 0, false);
            ASSERT_TRUE(heard.waitFor(i + 1));
        }
        EXPECT_EQ(measurer.cacheWrites(), 1u);
        EXPECT_EQ(LoudnessCache::parse(fileText(cacheFile)).size(), 1u);
    }
    EXPECT_EQ(LoudnessCache::parse(fileText(cacheFile)).size(), files.size());
}

// A cache line that lies about a file (its exact size and time, a measure no MP3 gives) is not
// believed: the file is measured anew.
TEST(LoudnessMeasurer, ALyingCacheEntryIsMeasuredAnew) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 997, 2, untagged(0.5));
    const std::string cacheFile = dir.file("loudness");
    const FileIdentity id = *identifyFile(mp3);
    std::ofstream(cacheFile, std::ios::binary) << LoudnessCache::serialize({{id, {-99, 1e-4}}});
    Heard heard;
    LoudnessMeasurer measurer(heard.listener(), {.cacheFile = cacheFile});
    measurer.request(mp3, 0, false);
    ASSERT_TRUE(heard.waitFor(1));
    EXPECT_EQ(measurer.decodes(), 1u);
    const auto result = heard.taken().at(0).second;
    ASSERT_TRUE(result.has_value());
    EXPECT_NEAR(result->integratedLufs, dbfs(0.5), 0.5);
}

TEST(LoudnessMeasurer, AJunkCacheFileIsReadSafelyAndRebuilt) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 997, 2, untagged(0.5));
    const std::string cacheFile = loudnessCacheFile(dir.file("cache"));
    std::filesystem::create_directories(dir.file("cache/velmor-mp3-player"));
    std::mt19937 random(5);
    std::string junk(200000, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    std::ofstream(cacheFile, std::ios::binary) << junk;
    Heard heard;
    {
        LoudnessMeasurer measurer(heard.listener(), {.cacheFile = cacheFile});
        measurer.request(mp3, 0, false);
        ASSERT_TRUE(heard.waitFor(1));
        EXPECT_EQ(measurer.decodes(), 1u);
    }
    ASSERT_TRUE(heard.taken().at(0).second.has_value());
    const auto entries = LoudnessCache::parse(fileText(cacheFile));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.front().identity.path, mp3);
    EXPECT_EQ(entries.front().measured, *heard.taken().at(0).second);
}

// A cache that cannot be written costs the next run a decode, never a measure: the cause is
// told once.
TEST(LoudnessMeasurer, ACacheThatCannotBeWrittenIsToldOnce) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 997, 1, untagged(0.5));
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 997, 1, untagged(0.25));
    std::ofstream(dir.file("blocked")) << "a file where the directory should be";
    Heard heard;
    std::mutex lock;
    std::condition_variable told;
    std::vector<std::string> causes;
    const auto causesTold = [&](std::size_t count) {
        std::unique_lock guard(lock);
        return told.wait_for(guard, 120s, [&] { return causes.size() >= count; });
    };
    {
        LoudnessMeasurer measurer(heard.listener(),
                                  {.cacheFile = dir.file("blocked/velmor-mp3-player/loudness"),
                                   .cacheTrouble = [&](const std::string& cause) {
                                       std::lock_guard guard(lock);
                                       causes.push_back(cause);
                                       told.notify_all();
                                   }});
        // The first measure is written before it is heard of; the folder is not tried again
        // at each measure after that.
        measurer.request(a, 0, false);
        ASSERT_TRUE(heard.waitFor(1));
        ASSERT_TRUE(causesTold(1));
        measurer.request(b, 0, false);
        ASSERT_TRUE(heard.waitFor(2));
        measurer.request(a, 0, false);
        ASSERT_TRUE(heard.waitFor(3));
        EXPECT_EQ(measurer.decodes(), 2u);  // kept in memory all the same
        EXPECT_EQ(measurer.cacheWrites(), 1u);
    }
    for (const auto& [path, result] : heard.taken()) EXPECT_TRUE(result.has_value()) << path;
    std::lock_guard guard(lock);
    ASSERT_EQ(causes.size(), 1u);
    EXPECT_NE(causes[0].find("blocked"), std::string::npos) << causes[0];
}

// A file that breaks off part-way has no measure, and none is kept; the deck's own play reports
// what went wrong, the measurer says nothing.
TEST(LoudnessMeasurer, AFileThatBreaksOffHasNoMeasure) {
    TempDir dir;
    const std::string whole = fileText(makeToneMp3(dir.path(), "t.mp3", 440, 8, untagged(0.5)));
    std::mt19937 random(11);
    std::string garbled = whole;
    for (std::size_t i = garbled.size() / 2; i < garbled.size(); ++i)
        garbled[i] = static_cast<char>(random());
    const std::vector<std::pair<const char*, std::string>> files = {
        {"cut in half", whole.substr(0, whole.size() / 2 + 77)},
        {"second half garbage", garbled},
        {"not an MP3", std::string(50000, 'x')},
        {"empty", ""},
    };
    const std::string cacheFile = dir.file("cache/loudness");
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(std::string(name) + ".mp3");
        std::ofstream(path, std::ios::binary) << bytes;
        Heard heard;
        testing::internal::CaptureStderr();
        {
            LoudnessMeasurer measurer(heard.listener(), {.cacheFile = cacheFile});
            measurer.request(path, 0, true);
            ASSERT_TRUE(heard.waitFor(1));
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(heard.taken().at(0).second.has_value());
        EXPECT_TRUE(LoudnessCache::parse(fileText(cacheFile)).empty());
    }
    Heard heard;
    LoudnessMeasurer measurer(heard.listener(), {});
    measurer.request(dir.file("missing.mp3"), 0, false);
    ASSERT_TRUE(heard.waitFor(1));
    EXPECT_FALSE(heard.taken().at(0).second.has_value());
}

}  // namespace
