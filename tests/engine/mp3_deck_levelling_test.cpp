// Loudness levelling on the real deck and the real loudness service: the gain the deck gives
// its stream, read back without a sound device.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/loudness/loudness_service.h"
#include "support/hanging_mount.h"
#include "support/manual_deck_rig.h"
#include "support/measure_gate.h"
#include "support/replay_gain_bytes.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using ReplayGainBytes::txxxFrame;

// The deck's volume times the level its file's frames get.
float heardGain(const Mp3Deck& deck) {
    return deck.stream().gain() * deck.stream().levels().playing;
}

double dbOf(double factor) {
    return 20.0 * std::log10(factor);
}
double factorOf(double db) {
    return std::pow(10.0, db / 20.0);
}

// A 1 kHz tone in both channels, of peak 0.25 unless told: -12 LUFS, so the measure brings it
// down by 6 dB. No gain in its LAME header: its level is what its ID3 frames, if any, say.
std::string toneFile(const TempDir& dir, const std::string& name,
                     const std::vector<std::string>& frames, double amplitude = 0.25) {
    ToneOptions options;
    options.amplitude = amplitude;
    options.replayGain = false;
    const std::string path = makeToneMp3(dir.path(), name, 1000.0, 1.0, options);
    if (frames.empty()) return path;
    std::ifstream in(path, std::ios::binary);
    std::stringstream audio;
    audio << in.rdbuf();
    in.close();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << ReplayGainBytes::id3v24Tag(frames) << audio.str();
    return path;
}

class Mp3DeckLevelling : public ::testing::Test {
protected:
    Mp3DeckLevelling() {
        for (int i = 0; i < 2; ++i) rig.deck(i).useLoudness(service);
    }
    // Ticks deck `i` as the window does until its stream's gain holds still at what the
    // service settled on; the gain it ends at.
    float settle(int i) {
        Mp3Deck& deck = rig.deck(i);
        float last = -1;
        int still = 0;
        waitFor(
            [&] {
                deck.followOutput();
                const float now = heardGain(deck);
                still = now == last ? still + 1 : 0;
                last = now;
                return service.results() > 0 && still > 120;
            },
            20s);
        return last;
    }

    TempDir dir;
    LoudnessService service;  // outlives the decks
    ManualDeckRig rig{44100, 2};
};

TEST_F(Mp3DeckLevelling, EachModeEndsAtTheFilesLevelTimesTheVolume) {
    using L = Deck::Levelling;
    struct Case {
        const char* name;
        std::vector<std::string> frames;
        L mode;
        double preampDb;
        double expectedDb;  // the levelling's part
        double toleranceDb;
        double amplitude = 0.25;
    };
    const std::vector<std::string> minus6 = {txxxFrame("replaygain_track_gain", "-6.00 dB")};
    const std::vector<std::string> plus6 = {txxxFrame("replaygain_track_gain", "+6.00 dB"),
                                            txxxFrame("replaygain_track_peak", "0.25")};
    const std::vector<std::string> zero = {txxxFrame("replaygain_track_gain", "0.00 dB"),
                                           txxxFrame("replaygain_track_peak", "0.25")};
    const std::vector<std::string> clipping = {txxxFrame("replaygain_track_gain", "+14.00 dB"),
                                               txxxFrame("replaygain_track_peak", "0.25")};
    const std::vector<std::string> both = {txxxFrame("replaygain_track_gain", "-6.00 dB"),
                                           txxxFrame("replaygain_album_gain", "-2.50 dB")};
    // clang-format off
    const Case cases[] = {
        {"track.mp3", minus6, L::Track, 0, -6, 0.01},
        {"track-zero.mp3", zero, L::Track, 0, 0, 0.01},
        {"track-plus6.mp3", plus6, L::Track, 0, 6, 0.01},
        {"would-clip.mp3", clipping, L::Track, 0, 12.04, 0.01},  // held to its peak: 1 / 0.25
        {"off-plus6.mp3", plus6, L::Off, 0, 0, 0.01},
        {"off.mp3", minus6, L::Off, 0, 0, 0.01},
        {"off-preamp.mp3", minus6, L::Off, 4, 0, 0.01},  // Off is the file's own level
        {"preamp.mp3", minus6, L::Track, 3.5, -2.5, 0.01},
        {"album.mp3", both, L::Album, 0, -2.5, 0.01},
        {"album-track.mp3", both, L::Track, 0, -6, 0.01},
        {"album-fallback.mp3", minus6, L::Album, 0, -6, 0.01},
        // Measured: -12 LUFS brought to -18, within what the encoding and the gate's edges
        // change of a short tone.
        {"measured.mp3", {}, L::Track, 0, -6, 0.6},
        {"measured-album.mp3", {}, L::Album, -1, -7, 0.6},
        // A quiet one (-32 LUFS) raised to -18: its peak leaves room.
        {"measured-quiet.mp3", {}, L::Track, 0, 14, 0.6, 0.025},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = toneFile(dir, c.name, c.frames, c.amplitude);
        for (int i = 0; i < 2; ++i) {
            Mp3Deck& deck = rig.deck(i);
            deck.setVolume(-600);
            deck.setLevelling(c.mode, c.preampDb);
            EXPECT_EQ(deck.levelling(), c.mode);
            deck.setFileName(path);
            // The level is known (its tags read, or its measure made, which a loaded machine
            // may take seconds over) before the deck's gain can settle on it.
            if (c.mode != L::Off) {
                const LevellingMode mode =
                    c.mode == L::Track ? LevellingMode::Track : LevellingMode::Album;
                ASSERT_TRUE(
                    waitFor([&] { return service.gain(path, mode, c.preampDb).has_value(); }, 20s));
            }
            const float volume = static_cast<float>(factorOf(-6));
            EXPECT_NEAR(dbOf(settle(i) / volume), c.expectedDb, c.toleranceDb);
        }
    }
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST_F(Mp3DeckLevelling, AFileThatCannotBeMeasuredPlaysAtThePreampAloneWithoutALineOfItsOwn) {
    const std::string junk = dir.file("junk.mp3");
    std::ofstream(junk, std::ios::binary) << std::string(20000, '\x5a');
    Mp3Deck& deck = rig.deck();
    deck.setLevelling(Deck::Levelling::Track, -2);
    deck.setFileName(junk);
    ASSERT_TRUE(
        waitFor([&] { return service.gain(junk, LevellingMode::Track, -2).has_value(); }, 20s));
    EXPECT_NEAR(dbOf(settle(0)), -2, 0.01);
    EXPECT_TRUE(rig.errors.taken().empty());  // the deck's own play says what is wrong
}

TEST_F(Mp3DeckLevelling, AMeasureThatArrivesWhilePlayingGlidesToItsGainAndAModeChangeGlidesBack) {
    const std::string path = toneFile(dir, "untagged.mp3", {});
    Mp3Deck& deck = rig.deck();
    deck.setLevelling(Deck::Levelling::Track, 0);
    deck.setFileName(path);
    EXPECT_EQ(heardGain(deck), 1.0f);  // the guess: at the reference level already
    deck.play();
    ASSERT_TRUE(
        waitFor([&] { return service.gain(path, LevellingMode::Track, 0).has_value(); }, 20s));
    const double target = *service.gain(path, LevellingMode::Track, 0);
    ASSERT_NEAR(dbOf(target), -6, 0.6);

    struct Glide {
        const char* what;
        Deck::Levelling mode;
        double from;
        double to;
    };
    const Glide glides[] = {{"measure came", Deck::Levelling::Track, 1.0, target},
                            {"back to Off", Deck::Levelling::Off, target, 1.0}};
    for (const Glide& glide : glides) {
        SCOPED_TRACE(glide.what);
        if (glide.mode != deck.levelling()) deck.setLevelling(glide.mode, 0);
        std::vector<float> gains;
        for (int tick = 0; tick < 150; ++tick) {
            deck.followOutput();
            gains.push_back(heardGain(deck));
        }
        // Not in one step: a fade of about a second, each tick a little nearer, never past.
        const auto reached = std::find_if(gains.begin(), gains.end(),
                                          [&](float g) { return std::fabs(g - glide.to) < 1e-5; });
        ASSERT_NE(reached, gains.end());
        EXPECT_GE(reached - gains.begin(), 50);
        for (std::size_t i = 0; i < gains.size(); ++i) {
            const double previous = i == 0 ? glide.from : gains[i - 1];
            EXPECT_LE(std::fabs(gains[i] - glide.to), std::fabs(previous - glide.to) + 1e-6);
            EXPECT_LE(std::fabs(dbOf(gains[i]) - dbOf(previous)), 0.25) << "tick " << i;
        }
    }

    // Known now: the same file set on the other deck starts at its level at once.
    Mp3Deck& other = rig.deck(1);
    other.setLevelling(Deck::Levelling::Track, 0);
    other.setFileName(path);
    EXPECT_FLOAT_EQ(heardGain(other), static_cast<float>(target));
}

// Samples of `frames` at full scale: where the output holds what is louder, as clipping.
int fullScaleSamples(const std::vector<StereoFrame>& frames) {
    int count = 0;
    for (const StereoFrame& f : frames)
        count += (std::fabs(f.left) >= 1.0f ? 1 : 0) + (std::fabs(f.right) >= 1.0f ? 1 : 0);
    return count;
}

// A pre-amp is meant for levelled files: until a file's gain is known it plays no louder than
// its own level, unless its tags' peak leaves room, and glides to the gain once measured.
TEST(Mp3DeckLevellingPreamp, AFileNotYetMeasuredIsRaisedOnlyAsFarAsAKnownPeak) {
    struct Case {
        const char* name;
        std::vector<std::string> frames;
        double amplitude;
        double preampDb;
        double guessDb;
    };
    const Case cases[] = {
        {"untagged, peaking at 0.9", {}, 0.9, 12, 0},
        {"a tagged peak of 0.3, no gain",
         {txxxFrame("replaygain_track_peak", "0.3")},
         0.25,
         12,
         dbOf(1 / 0.3)},
        {"a lowering pre-amp", {}, 0.9, -3, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = toneFile(dir, "tone.mp3", c.frames, c.amplitude);
        // The measure waits inside the file until released; the tags are read before it.
        MeasureGate gate(MeasureGate::Holds::EveryFile);
        LoudnessService service({.stepDone = gate.hook()});
        ManualDeckRig rig{44100};
        Mp3Deck& deck = rig.deck();
        deck.useLoudness(service);
        deck.setLevelling(Deck::Levelling::Track, c.preampDb);
        deck.setFileName(path);
        gate.waitUntilHeld();
        deck.followOutput();
        EXPECT_NEAR(dbOf(heardGain(deck)), c.guessDb, 0.01);
        deck.play();
        EXPECT_EQ(fullScaleSamples(rig.render(9600)), 0) << "of 19200";

        gate.release();
        ASSERT_TRUE(waitFor(
            [&] { return service.gain(path, LevellingMode::Track, c.preampDb).has_value(); }, 20s));
        const double measuredDb = dbOf(*service.gain(path, LevellingMode::Track, c.preampDb));
        int ticks = 0;
        ASSERT_TRUE(waitFor(
            [&] {
                deck.followOutput();
                ++ticks;
                return std::fabs(dbOf(heardGain(deck)) - measuredDb) < 1e-4;
            },
            20s));
        EXPECT_GT(ticks, 50);  // a glide, not a jump
        EXPECT_EQ(fullScaleSamples(rig.render(9600)), 0) << "of 19200";
    }
}

// A file on a disk that does not answer holds no command and no tick, nor the levelling of
// the other deck's files or of this deck's next one; its own once the disk answers.
TEST(Mp3DeckLevellingHungDisk, AFileWhoseDiskDoesNotAnswerHoldsNoCommandNorOtherFilesLevels) {
    TempDir music, fuse;
    const std::string untagged = toneFile(music, "untagged.mp3", {});
    std::filesystem::rename(untagged, music.file("hang.mp3"));
    const std::string other =
        toneFile(music, "other.mp3", {txxxFrame("replaygain_track_gain", "-6.00 dB")});
    const std::string next =
        toneFile(music, "next.mp3", {txxxFrame("replaygain_track_gain", "-3.00 dB")});
    HangingMount mount(music.path(), fuse.path());
    if (!mount.available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    // The disk answers once the test is done with it, or at this guard's end, should a call
    // wait on the read after all: the test then fails instead of waiting for ever.
    std::atomic<bool> done{false};
    std::atomic<bool> answered{false};
    std::thread guard([&] {
        waitFor([&] { return done.load(); }, 60s);
        answered = true;
        mount.release();
    });
    LoudnessService service;
    ManualDeckRig rig{44100, 2};
    Mp3Deck& deck = rig.deck(0);
    Mp3Deck& otherDeck = rig.deck(1);
    deck.useLoudness(service);
    otherDeck.useLoudness(service);
    const std::string hung = mount.path("hang.mp3");

    deck.setLevelling(Deck::Levelling::Track, 0);
    deck.setFileName(hung);
    deck.setLevelling(Deck::Levelling::Album, 1);
    for (int tick = 0; tick < 30; ++tick) deck.followOutput();
    EXPECT_FALSE(answered) << "a command or a tick waited for the disk";
    // The guess: a +1 dB pre-amp raises no file whose peak is not known.
    EXPECT_NEAR(dbOf(heardGain(deck)), 0, 0.01);

    otherDeck.setLevelling(Deck::Levelling::Track, 0);
    otherDeck.setFileName(other);
    EXPECT_TRUE(waitFor(
        [&] {
            otherDeck.followOutput();
            return std::fabs(dbOf(heardGain(otherDeck)) - (-6)) < 0.01;
        },
        20s));
    deck.setFileName(next);
    EXPECT_TRUE(waitFor(
        [&] {
            deck.followOutput();
            return std::fabs(dbOf(heardGain(deck)) - (-3 + 1)) < 0.01;
        },
        20s));
    EXPECT_FALSE(answered) << "levelled only once the disk answered";

    // Once the disk answers, the file is measured after all.
    done = true;
    guard.join();
    deck.setFileName(hung);
    ASSERT_TRUE(waitFor(
        [&] {
            deck.followOutput();
            return std::fabs(dbOf(heardGain(deck)) - (-6 + 1)) < 0.6;
        },
        20s));
}

}  // namespace
