#include "components/alsa_mixer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "components/mixer_reports.h"
#include "components/threaded_mixer.h"
#include "doubles/recording_error_sink.h"
#include "support/own_pulse_server.h"
#include "support/scoped_env.h"
#include "support/serving_process.h"
#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace {

using RecordingEvents = MixerReports;

void setSinkPercent(int percent) {
    commandOutput("pactl set-sink-volume @DEFAULT_SINK@ " + std::to_string(percent) + "%");
}

TEST(AlsaMixerArithmetic, KnownDeviceByExactElementName) {
    const struct {
        const char* element;
        const char* known;
    } cases[] = {
        {"Master", "MasterVolume"},
        {"PCM", "WaveOutput"},
        {"Bass", "Bass"},
        {"Treble", "Treble"},
        {"master", ""},
        {"Master ", ""},
        {"Headphone", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(AlsaMixer::knownDevice(c.element), c.known) << c.element;
}

TEST(AlsaMixerArithmetic, LevelsAreLinearInTheRawRange) {
    const struct {
        double percent;
        long min, max, raw;
        int32_t level;
    } cases[] = {
        {0, 0, 65536, 0, 0},
        {25, 0, 65536, 16384, 16384},
        {50, 0, 65536, 32768, 32768},
        {99, 0, 65536, 64881, 64880},
        {100, 0, 65536, 65536, 65535},
        {150, 0, 65536, 65536, 65535},
        {-5, 0, 65536, 0, 0},
        {50, 0, 31, 16, 33825},
        {50, -20, 20, 0, 32768},
        {10, -20, 20, -16, 6554},
        {50, 7, 7, 7, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.percent << "% of " << c.min << ".." << c.max);
        EXPECT_EQ(AlsaMixer::rawFromPercent(c.percent, c.min, c.max), c.raw);
        EXPECT_EQ(AlsaMixer::levelFromRaw(c.raw, c.min, c.max), c.level);
    }
    // A level the server pushed past the range still reads within 0..65535.
    EXPECT_EQ(AlsaMixer::levelFromRaw(98304, 0, 65536), 65535);
    EXPECT_EQ(AlsaMixer::levelFromRaw(-3, 0, 65536), 0);
}

TEST(AlsaMixerArithmetic, EveryPercentReadsBackAsItself) {
    // The slider shows level / 655.35; on a fine range it must come back as what was set.
    for (int p = 0; p <= 99; ++p) {
        const long raw = AlsaMixer::rawFromPercent(p, 0, 65536);
        EXPECT_NEAR(AlsaMixer::levelFromRaw(raw, 0, 65536) / 655.35, p, 0.01) << p;
    }
}

TEST(AlsaMixerDevices, NoMixerAtAllIsReportedOnceAndEveryCallIsHarmless) {
    RecordingErrorSink errors;
    RecordingEvents events;
    AlsaMixer mixer(errors, {"velmor_no_such_mixer"});
    mixer.setEventHandler(&events);

    mixer.prepareMixer();
    EXPECT_FALSE(mixer.mixerReady());
    mixer.enumerationStep1();  // tries again, finds the same nothing
    mixer.enumerationStep2();

    EXPECT_TRUE(events.mixers.empty());
    EXPECT_TRUE(events.lines.empty());
    auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("velmor_no_such_mixer"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("No sound mixer"), std::string::npos) << lines[1];
    int32_t level = -7;
    EXPECT_FALSE(mixer.getLineLevel(1, level));
    EXPECT_FALSE(mixer.setLineLevel(1, 50));
    EXPECT_EQ(level, -7);
}

// Against the private PulseAudio of the test script, through ALSA's "default" device.
class AlsaMixerPulse : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "PULSE_SERVER is unset: run under scripts/test.sh or after "
                            "start_private_pulse from scripts/private_pulse.sh";
        setSinkPercent(100);
    }
    void TearDown() override {
        // Other sound tests measure loudness at the sink.
        if (std::getenv("PULSE_SERVER")) setSinkPercent(100);
    }

    // Enumerates and returns the device number of the default device's Master line.
    int32_t enumerateMaster() {
        mixer.setEventHandler(&events);
        mixer.enumerationStep1();
        mixer.enumerationStep2();
        for (const auto& l : events.lines)
            if (l.known == "MasterVolume" && l.type == static_cast<int32_t>(events.mixers.size()))
                return l.number;
        ADD_FAILURE() << "no Master line on the default mixer";
        return 0;
    }

    // pactl's change reaches the mixer as an event, asynchronously.
    int32_t levelOnceChanged(int32_t device, int32_t expected) {
        int32_t level = -1;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < deadline) {
            EXPECT_TRUE(mixer.getLineLevel(device, level));
            if (std::abs(level - expected) <= 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return level;
    }

    RecordingErrorSink errors;
    RecordingEvents events;
    AlsaMixer mixer{errors};
};

TEST_F(AlsaMixerPulse, EnumerationPreparesAndReportsTheDefaultMixersMasterLine) {
    EXPECT_FALSE(mixer.mixerReady());
    int32_t level = -7;
    EXPECT_FALSE(mixer.getLineLevel(1, level)) << "no line exists before preparing";

    const int32_t master = enumerateMaster();
    EXPECT_TRUE(mixer.mixerReady());
    ASSERT_FALSE(events.mixers.empty());
    const auto& def = events.mixers.back();
    EXPECT_EQ(def.name.rfind("default", 0), 0u) << def.name;
    EXPECT_EQ(def.productId, static_cast<int16_t>(events.mixers.size()));

    ASSERT_GE(master, 1);
    const auto& line = events.lines[static_cast<std::size_t>(master) - 1];
    EXPECT_EQ(line.name, "Master");
    EXPECT_EQ(line.shortName, "Master");
    EXPECT_EQ(line.max, 65536);
    for (std::size_t i = 0; i < events.lines.size(); ++i) {
        EXPECT_EQ(events.lines[i].number, static_cast<int32_t>(i + 1));
        EXPECT_NE(events.lines[i].name, "Capture") << "a capture-only control is no line";
    }
    EXPECT_TRUE(errors.taken().empty());
}

TEST_F(AlsaMixerPulse, FailingMixerIsSkippedAndTheOthersLoad) {
    AlsaMixer partial(errors, {"velmor_no_such_mixer", "default"});
    partial.setEventHandler(&events);
    partial.prepareMixer();
    partial.enumerationStep1();
    partial.enumerationStep2();

    ASSERT_EQ(events.mixers.size(), 1u);
    EXPECT_EQ(events.mixers[0].name.rfind("default", 0), 0u);
    ASSERT_FALSE(events.lines.empty());
    EXPECT_EQ(events.lines[0].name, "Master");
    auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("velmor_no_such_mixer"), std::string::npos) << lines[0];
}

TEST_F(AlsaMixerPulse, SetLineLevelShowsAsTheSinksPercentage) {
    const int32_t master = enumerateMaster();
    for (float percent : {50.0f, 0.0f, 99.0f, 25.0f, 1.0f}) {
        ASSERT_TRUE(mixer.setLineLevel(master, percent));
        EXPECT_EQ(sinkPercent(), static_cast<int>(percent));
    }
    EXPECT_TRUE(errors.taken().empty());
}

TEST_F(AlsaMixerPulse, GetLineLevelFollowsChangesMadeElsewhere) {
    const int32_t master = enumerateMaster();
    const struct {
        int percent;
        int32_t level;
    } cases[] = {{25, 16384}, {75, 49151}, {0, 0}, {100, 65535}, {50, 32768}};
    for (const auto& c : cases) {
        setSinkPercent(c.percent);
        EXPECT_NEAR(levelOnceChanged(master, c.level), c.level, 1) << c.percent << "%";
    }
    // Our own change reads back on the same scale.
    ASSERT_TRUE(mixer.setLineLevel(master, 33));
    EXPECT_NEAR(levelOnceChanged(master, 21627) / 655.35, 33, 0.01);
    // Setting the same level again after someone else moved it must still write it.
    setSinkPercent(70);
    levelOnceChanged(master, 45875);
    ASSERT_TRUE(mixer.setLineLevel(master, 33));
    EXPECT_EQ(sinkPercent(), 33);
}

TEST_F(AlsaMixerPulse, UnknownDeviceNumbersChangeNothing) {
    const int32_t master = enumerateMaster();
    setSinkPercent(40);
    const int32_t lineCount = static_cast<int32_t>(events.lines.size());
    for (int32_t device : {0, -1, lineCount + 1, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(device);
        EXPECT_FALSE(mixer.setLineLevel(device, 90));
        int32_t level = -7;
        EXPECT_FALSE(mixer.getLineLevel(device, level));
        EXPECT_EQ(level, -7);
    }
    EXPECT_EQ(sinkPercent(), 40);
    EXPECT_TRUE(errors.taken().empty()) << "an absent line is not a failure";
    EXPECT_FALSE(mixer.setLineLevel(master, std::nanf("")));
    EXPECT_EQ(sinkPercent(), 40);
}

}  // namespace

// A sound server of the test's own behind ALSA's "default", killed, stopped or started again.
class AlsaMixerRestart : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "ALSA's default device reaches PulseAudio under scripts/test.sh only";
        ASSERT_TRUE(server.start());
        address.emplace("PULSE_SERVER", server.address());
    }

    void TearDown() override {
        if (thawLater.joinable()) thaw();
    }

    // Should a call wait for the stopped server after all, the server goes on after twenty
    // seconds, and stillFrozen() tells: the test fails instead of hanging.
    void freeze() {
        server.freeze();
        thawLater = std::thread([this] {
            for (int i = 0; i < 400 && !thawed.load(std::memory_order_acquire); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!thawed.load(std::memory_order_acquire))
                thawedEarly.store(true, std::memory_order_release);
            server.thaw();
        });
    }
    bool stillFrozen() const { return !thawedEarly.load(std::memory_order_acquire); }
    void thaw() {
        thawed.store(true, std::memory_order_release);
        thawLater.join();
    }

    int32_t masterLine() const {  // 0 while none is reported
        int32_t master = 0;
        for (const auto& l : events.lines)
            if (l.known == "MasterVolume") master = l.number;
        return master;
    }

    TempDir dir;
    OwnPulseServer server{dir.path()};
    std::optional<ScopedEnv> address;
    RecordingErrorSink errors;
    RecordingEvents events;
    std::atomic<bool> thawed{false};
    std::atomic<bool> thawedEarly{false};
    std::thread thawLater;
};

TEST_F(AlsaMixerRestart, TheLevelReachesASoundServerThatRestarted) {
    AlsaMixer mixer(errors, {"default"});
    mixer.setEventHandler(&events);
    mixer.enumerationStep2();
    const int32_t master = masterLine();
    ASSERT_GE(master, 1);
    ASSERT_TRUE(mixer.setLineLevel(master, 30));
    EXPECT_EQ(sinkPercent(), 30);

    server.kill();
    EXPECT_FALSE(mixer.setLineLevel(master, 40));  // nobody to take it
    auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Mixer default", 0), 0u) << lines[0];
    EXPECT_FALSE(mixer.setLineLevel(master, 40));  // said once
    EXPECT_EQ(errors.taken().size(), 1u);

    ASSERT_TRUE(server.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new handle once a second
    EXPECT_TRUE(mixer.setLineLevel(master, 60));
    EXPECT_EQ(sinkPercent(), 60);
    int32_t level = -1;
    EXPECT_TRUE(mixer.getLineLevel(master, level));
    EXPECT_NEAR(level, 0.6 * 65535, 700);
    EXPECT_EQ(errors.taken().size(), 1u);

    // Killed and back before the mixer noticed: the next level goes straight through.
    server.kill();
    ASSERT_TRUE(server.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_TRUE(mixer.setLineLevel(master, 20));
    EXPECT_EQ(sinkPercent(), 20);
    EXPECT_EQ(errors.taken().size(), 1u);
}

// The mixer on its own thread, as the program runs it: while the server is stopped a drag
// of the master bar waits for nothing, and the newest level is the sink's once it answers.
TEST_F(AlsaMixerRestart, LevelsSetWhileTheServerIsStoppedLandOnceItAnswers) {
    ThreadedMixer mixer(std::make_unique<AlsaMixer>(errors, std::vector<std::string>{"default"}));
    mixer.setEventHandler(&events);
    mixer.enumerationStep1();
    mixer.enumerationStep2();
    const int32_t master = masterLine();
    ASSERT_GE(master, 1);
    auto sinkReaches = [](int percent) {
        for (int i = 0; i < 200 && sinkPercent() != percent; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return sinkPercent() == percent;
    };
    ASSERT_TRUE(mixer.setLineLevel(master, 30));
    ASSERT_TRUE(sinkReaches(30));

    freeze();
    for (float percent : {35.0f, 40.0f, 45.0f, 50.0f}) {
        EXPECT_TRUE(mixer.setLineLevel(master, percent));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    int32_t level = -1;
    EXPECT_TRUE(mixer.getLineLevel(master, level));
    EXPECT_TRUE(stillFrozen()) << "a level waited for the stopped server";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    thaw();

    EXPECT_TRUE(sinkReaches(50)) << sinkPercent();
    EXPECT_TRUE(serveUntil(
        [&] { return mixer.getLineLevel(master, level) && std::abs(level - 32768) <= 1; }, 10000))
        << level;
    EXPECT_TRUE(errors.taken().empty());
}

// A sound server stopped as the player starts: the enumeration holds the window no longer
// than the mixer's bound, and the lines are reported once the server answers.
TEST_F(AlsaMixerRestart, AServerStoppedAtStartHoldsTheEnumerationOnlyBriefly) {
    freeze();
    ThreadedMixer mixer(std::make_unique<AlsaMixer>(errors, std::vector<std::string>{"default"}));
    mixer.setEventHandler(&events);
    if (!mixer.mixerReady()) mixer.prepareMixer();
    mixer.enumerationStep1();
    mixer.enumerationStep2();
    EXPECT_TRUE(stillFrozen()) << "the enumeration waited for the stopped server";
    EXPECT_TRUE(events.lines.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    thaw();

    EXPECT_TRUE(serveUntil([&] { return masterLine() != 0; }, 10000));
    EXPECT_EQ(events.mixers.size(), 1u);
    EXPECT_TRUE(mixer.mixerReady());
    EXPECT_TRUE(errors.taken().empty());
}
