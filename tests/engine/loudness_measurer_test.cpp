// The measurer against real files: what libebur128 gives for tones of known level, its thread,
// its queue, its cache, and files that break off.
#include "engine/loudness_measurer.h"

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

#include "engine/levelling_gain.h"
#include "engine/loudness_cache.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

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

// Holds the measurer inside its first step until released.
class Gate {
public:
    std::function<void(const std::string&, std::int64_t)> hook() {
        return [this](const std::string& path, std::int64_t) {
            std::unique_lock guard(lock);
            ++steps;
            if (!held.empty()) return;
            held = path;
            changed.notify_all();
            changed.wait(guard, [&] { return open; });
        };
    }
    std::string waitUntilHeld() {
        std::unique_lock guard(lock);
        changed.wait_for(guard, 120s, [&] { return !held.empty(); });
        return held;
    }
    void release() {
        std::lock_guard guard(lock);
        open = true;
        changed.notify_all();
    }
    int stepCount() {
        std::lock_guard guard(lock);
        return steps;
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    std::string held;
    bool open = false;
    int steps = 0;
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
    for (const Case& c : cases)
        measurer.request(makeToneMp3(dir.path(), c.name, c.frequency, 10, untagged(c.amplitude)),
                         false);
    ASSERT_TRUE(heard.waitFor(cases.size()));
    const auto results = heard.taken();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(results[i].first, dir.file(cases[i].name));
        ASSERT_TRUE(results[i].second.has_value());
        const MeasuredLoudness& measured = *results[i].second;
        EXPECT_NEAR(measured.integratedLufs, dbfs(cases[i].amplitude), 0.5);
        EXPECT_NEAR(measured.samplePeak, cases[i].amplitude, cases[i].amplitude * 0.05);
        const auto gain = Levelling::gain({{}, measured}, LevellingMode::Track, 0);
        ASSERT_TRUE(gain.has_value());
        EXPECT_NEAR(measured.integratedLufs + 20 * std::log10(*gain), -18, 1.0);
    }
}

// The caller's thread never measures and never waits: requests return while the measurer,
// at the lowest priority, is held inside a file; urgent ones go first, and a path asked for
// twice is measured once.
TEST(LoudnessMeasurer, QueuesOffTheCallersThreadUrgentFirstEachPathOnce) {
    TempDir dir;
    const std::string first = makeToneMp3(dir.path(), "first.mp3", 440, 3, untagged(0.5));
    const std::string later = makeToneMp3(dir.path(), "later.mp3", 440, 1, untagged(0.25));
    const std::string urgent = makeToneMp3(dir.path(), "urgent.mp3", 440, 1, untagged(0.125));
    Heard heard;
    Gate gate;
    LoudnessMeasurer measurer(heard.listener(), {.stepDone = gate.hook()});
    measurer.request(first, false);
    ASSERT_EQ(gate.waitUntilHeld(), first);
    // The measurer is stuck inside `first`: each of these returns all the same.
    measurer.request(later, false);
    measurer.request(first, true);
    measurer.request(later, false);
    measurer.request(urgent, true);
    measurer.request(first, false);
    gate.release();
    ASSERT_TRUE(heard.waitFor(3));
    // Measured once: later requests are answered from what was measured, in their turn behind
    // anything still queued.
    measurer.request(first, true);
    measurer.request(urgent, false);
    ASSERT_TRUE(heard.waitFor(5));
    const auto results = heard.taken();
    const std::vector<std::string> order = {first, urgent, later, first, urgent};
    ASSERT_EQ(results.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(results[i].first, order[i]) << i;
    EXPECT_EQ(results[3].second, results[0].second);
    EXPECT_EQ(measurer.decodes(), 3u);
    for (const auto id : heard.threadIds()) EXPECT_NE(id, std::this_thread::get_id());
    // Yields the cores to everything else.
    for (const int nice : heard.nicenessSeen()) EXPECT_EQ(nice, 19);
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
        measurer.request(longFile, false);
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
            measurer.request(mp3, false);
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
        measurer.request(mp3, false);
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
        // Each measure is saved before it is heard of.
        measurer.request(a, false);
        ASSERT_TRUE(heard.waitFor(1));
        measurer.request(b, false);
        ASSERT_TRUE(heard.waitFor(2));
        measurer.request(a, false);
        ASSERT_TRUE(heard.waitFor(3));
        ASSERT_TRUE(causesTold(1));
        EXPECT_EQ(measurer.decodes(), 2u);  // kept in memory all the same
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
            measurer.request(path, true);
            ASSERT_TRUE(heard.waitFor(1));
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_FALSE(heard.taken().at(0).second.has_value());
        EXPECT_TRUE(LoudnessCache::parse(fileText(cacheFile)).empty());
    }
    Heard heard;
    LoudnessMeasurer measurer(heard.listener(), {});
    measurer.request(dir.file("missing.mp3"), false);
    ASSERT_TRUE(heard.waitFor(1));
    EXPECT_FALSE(heard.taken().at(0).second.has_value());
}

}  // namespace
