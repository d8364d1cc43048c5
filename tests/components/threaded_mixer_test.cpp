#include "components/threaded_mixer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "components/mixer_events.h"
#include "doubles/fake_mixer.h"
#include "support/serving_process.h"

namespace {

// A mixer whose every call waits while the gate is held, as ALSA's pulse plugin waits on a
// sound server that has stopped. A level reads back as a hundred times its percentage.
class GatedMixer : public Mixer {
public:
    GatedMixer() {
        fake.ready = true;
        fake.mixers = {"default (PulseAudio)"};
        fake.lines = {{"Master", "Master", "MasterVolume", 0, 1, 1, 65536},
                      {"PCM", "PCM", "WaveOutput", 0, 1, 2, 65536},
                      {"Mic Boost", "Mic Boost", "", 0, 1, 3, 100}};
        fake.levels = {{1, 100}, {2, 200}, {3, 300}};
    }

    void hold() {
        std::lock_guard lock(mutex);
        held = true;
    }
    void open() {
        {
            std::lock_guard lock(mutex);
            held = false;
        }
        changed.notify_all();
    }
    // Until a call is waiting at the gate.
    bool waitForACallHeld() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [this] { return waiting > 0; });
    }
    // Whether a call waits at the gate now, and whether any gave up waiting: a call the
    // caller waited on would keep the gate's call waiting until it gave up.
    bool holding() {
        std::lock_guard lock(mutex);
        return waiting > 0;
    }
    int gaveUp() {
        std::lock_guard lock(mutex);
        return timedOut;
    }
    std::vector<std::pair<int32_t, float>> levelsSet() {
        std::lock_guard lock(mutex);
        return fake.set;
    }
    void refuse(int32_t deviceNumber) {
        std::lock_guard lock(mutex);
        refused = deviceNumber;
    }

    void setEventHandler(MixerEvents* handler) override {
        pass();
        fake.setEventHandler(handler);
    }
    bool mixerReady() override { return pass(), fake.mixerReady(); }
    void prepareMixer() override { pass(), fake.prepareMixer(); }
    void enumerationStep1() override { pass(), fake.enumerationStep1(); }
    void enumerationStep2() override { pass(), fake.enumerationStep2(); }
    bool setLineLevel(int32_t deviceNumber, float percent) override {
        std::unique_lock lock = pass();
        if (deviceNumber == refused) return false;
        fake.levels[deviceNumber] = int32_t(percent) * 100;
        return fake.setLineLevel(deviceNumber, percent);
    }
    bool getLineLevel(int32_t deviceNumber, int32_t& level) override {
        std::unique_lock lock = pass();
        return fake.getLineLevel(deviceNumber, level);
    }

private:
    std::unique_lock<std::mutex> pass() {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        // A call the test should not have made waits a bound, to fail the test, not hang it.
        if (!changed.wait_for(lock, std::chrono::seconds(10), [this] { return !held; })) ++timedOut;
        --waiting;
        return lock;
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    int waiting = 0;
    int timedOut = 0;
    int32_t refused = 0;
    FakeMixer fake;
};

class RecordingEvents : public MixerEvents {
public:
    std::vector<std::string> reports;
    std::vector<std::thread::id> threads;

    void ReturnMixersInTheSystem(const std::string& MixerName, int16_t, int16_t, int32_t) override {
        reports.push_back("mixer " + MixerName);
        threads.push_back(std::this_thread::get_id());
    }
    void ReturnDevicesAvailable(const std::string& DeviceName, const std::string&,
                                const std::string&, int32_t, int32_t, int32_t devicenumber,
                                int32_t) override {
        reports.push_back("line " + std::to_string(devicenumber) + " " + DeviceName);
        threads.push_back(std::this_thread::get_id());
    }
};

const std::vector<std::string> kAllReports = {"mixer default (PulseAudio)", "line 1 Master",
                                              "line 2 PCM", "line 3 Mic Boost"};

TEST(ThreadedMixer, AMixerThatAnswersReportsInsideTheEnumerationCallsOnTheCallingThread) {
    auto gated = std::make_unique<GatedMixer>();
    ThreadedMixer mixer(std::move(gated), std::chrono::seconds(10));
    RecordingEvents events;
    mixer.setEventHandler(&events);

    if (!mixer.mixerReady()) mixer.prepareMixer();
    mixer.enumerationStep1();
    EXPECT_EQ(events.reports, std::vector<std::string>{kAllReports[0]});
    mixer.enumerationStep2();
    EXPECT_EQ(events.reports, kAllReports);
    EXPECT_TRUE(mixer.mixerReady());
    for (const auto& id : events.threads) EXPECT_EQ(id, std::this_thread::get_id());

    // The lines the window drives are read at once; the others once asked for.
    int32_t level = -1;
    EXPECT_TRUE(mixer.getLineLevel(1, level));
    EXPECT_EQ(level, 100);
    EXPECT_TRUE(mixer.getLineLevel(2, level));
    EXPECT_EQ(level, 200);
    for (int32_t unknown : {0, -1, 4, INT32_MAX}) {
        level = -7;
        EXPECT_FALSE(mixer.getLineLevel(unknown, level)) << unknown;
        EXPECT_FALSE(mixer.setLineLevel(unknown, 50)) << unknown;
        EXPECT_EQ(level, -7);
    }
    EXPECT_FALSE(mixer.setLineLevel(1, std::nanf("")));
    serveUntil([&] { return mixer.getLineLevel(3, level); });
    EXPECT_EQ(level, 300);
}

// A drag while the server hangs: each level is taken at once, and the newest per line is
// what the mixer gets once it answers.
TEST(ThreadedMixer, LevelsSetWhileTheMixerHangsReturnAtOnceAndTheNewestLands) {
    auto owned = std::make_unique<GatedMixer>();
    GatedMixer& gated = *owned;
    ThreadedMixer mixer(std::move(owned), std::chrono::seconds(10));
    mixer.enumerationStep2();

    gated.hold();
    ASSERT_TRUE(mixer.setLineLevel(1, 10));
    ASSERT_TRUE(gated.waitForACallHeld());  // the mixer's thread hangs in that level
    for (float percent : {20.0f, 30.0f, 40.0f}) EXPECT_TRUE(mixer.setLineLevel(1, percent));
    EXPECT_TRUE(mixer.setLineLevel(2, 60));
    int32_t level = -1;
    EXPECT_TRUE(mixer.getLineLevel(1, level));
    EXPECT_EQ(level, 100) << "the last level known, until one lands";
    EXPECT_TRUE(gated.holding()) << "a call waited for the hung mixer";
    EXPECT_EQ(gated.gaveUp(), 0) << "a call waited for the hung mixer";

    gated.open();
    EXPECT_TRUE(serveUntil([&] { return mixer.getLineLevel(2, level) && level == 6000; }));
    EXPECT_TRUE(serveUntil([&] { return mixer.getLineLevel(1, level) && level == 4000; }));
    const std::vector<std::pair<int32_t, float>> expected = {{1, 10}, {1, 40}, {2, 60}};
    EXPECT_EQ(gated.levelsSet(), expected);
}

// A mixer that does not answer at start holds the window back no longer than the bound; its
// reports come later, on the thread that made it, each once.
TEST(ThreadedMixer, AMixerHungAtStartHandsItsReportsBackOnceItAnswers) {
    auto owned = std::make_unique<GatedMixer>();
    GatedMixer& gated = *owned;
    gated.hold();
    ThreadedMixer mixer(std::move(owned), std::chrono::milliseconds(100));
    RecordingEvents events;
    mixer.setEventHandler(&events);

    if (!mixer.mixerReady()) mixer.prepareMixer();
    mixer.enumerationStep1();
    mixer.enumerationStep2();
    // Back while the mixer still hangs in its first call: the bound, not the mixer, ended it.
    EXPECT_TRUE(gated.holding());
    EXPECT_EQ(gated.gaveUp(), 0);
    EXPECT_TRUE(events.reports.empty());
    EXPECT_FALSE(mixer.mixerReady());
    int32_t level = -7;
    EXPECT_FALSE(mixer.getLineLevel(1, level));
    EXPECT_FALSE(mixer.setLineLevel(1, 50)) << "no line is known yet";

    gated.open();
    EXPECT_TRUE(serveUntil([&] { return events.reports.size() == kAllReports.size(); }));
    serveUntil([] { return false; }, 200);  // and nothing more
    EXPECT_EQ(events.reports, kAllReports);
    for (const auto& id : events.threads) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_TRUE(mixer.mixerReady());
    EXPECT_TRUE(mixer.getLineLevel(1, level));
    EXPECT_EQ(level, 100);
    EXPECT_TRUE(mixer.setLineLevel(1, 50));
    EXPECT_TRUE(serveUntil([&] { return mixer.getLineLevel(1, level) && level == 5000; }));
}

// A refusal is told at the next level for that line, so the caller can say it once, and
// no more once a level is taken again.
TEST(ThreadedMixer, ALineThatRefusedItsLastLevelAnswersFalseUntilOneIsTaken) {
    auto owned = std::make_unique<GatedMixer>();
    GatedMixer& gated = *owned;
    ThreadedMixer mixer(std::move(owned));
    mixer.enumerationStep2();

    gated.refuse(2);
    EXPECT_TRUE(mixer.setLineLevel(2, 10));  // queued: not known yet
    EXPECT_TRUE(serveUntil([&] { return !mixer.setLineLevel(2, 20); }));
    EXPECT_TRUE(mixer.setLineLevel(1, 20)) << "another line is not concerned";
    gated.refuse(0);
    EXPECT_TRUE(serveUntil([&] { return mixer.setLineLevel(2, 30); }));
    int32_t level = -1;
    EXPECT_TRUE(serveUntil([&] { return mixer.getLineLevel(2, level) && level == 3000; }));
}

}  // namespace
