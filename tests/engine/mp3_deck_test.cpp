// The real deck against the real libmpg123, with MP3 files made at test time. The output is
// driven by hand (no SDL device) so that samples and positions are exact.
#include "engine/player/mp3_deck.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "support/fade_in.h"
#include "support/file_text.h"
#include "support/manual_deck_rig.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;

// Largest difference between what the deck played and what mpg123 decoded, channel by channel
// (a mono reference is compared with both channels), over the reference's length.
// `played` against mpg123's samples from `refOffset` on, as the deck sounds them: rising from
// silence at each of `startsAt` (indexes into `played`).
double maxDifference(const std::vector<StereoFrame>& played, const DecodedAudio& ref,
                     std::size_t refOffset = 0, std::vector<std::size_t> startsAt = {0}) {
    double worst = 0;
    const std::size_t n = std::min(played.size(), ref.frames() - refOffset);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = (refOffset + i) * ref.channels;
        std::size_t start = 0;
        for (const std::size_t s : startsAt)
            if (s <= i) start = s;
        const float g = fadeInAt(i - start);
        const float l = g * ref.samples[at];
        const float r = ref.channels == 2 ? g * ref.samples[at + 1] : l;
        worst = std::max(
            {worst, double(std::fabs(played[i].left - l)), double(std::fabs(played[i].right - r))});
    }
    return worst;
}

bool allSilent(const std::vector<StereoFrame>& frames, std::size_t from = 0) {
    for (std::size_t i = from; i < frames.size(); ++i)
        if (frames[i].left != 0 || frames[i].right != 0) return false;
    return true;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

// An ID3v2.3 tag holding one APIC frame of `pictureBytes` bytes.
std::string id3Tag(std::size_t pictureBytes) {
    std::string frame = std::string("\0image/jpeg\0\x03\0", 14) + randomBytes(pictureBytes, 7);
    std::string body = "APIC";
    const auto size = static_cast<std::uint32_t>(frame.size());
    body += {char(size >> 24), char(size >> 16), char(size >> 8), char(size), 0, 0};
    body += frame;
    const auto n = static_cast<std::uint32_t>(body.size());
    std::string header = "ID3\x03";
    header += {0,
               0,
               char((n >> 21) & 0x7f),
               char((n >> 14) & 0x7f),
               char((n >> 7) & 0x7f),
               char(n & 0x7f)};
    return header + body;
}

struct Kind {
    const char* name;
    ToneOptions options;
};

class Mp3DeckFormats : public ::testing::TestWithParam<Kind> {
protected:
    TempDir dir;
};

// Each kind of file: the length, the samples against mpg123's, the end.
TEST_P(Mp3DeckFormats, PlaysExactlyWhatMpg123Decodes) {
    const Kind kind = GetParam();
    const std::string mp3 = makeToneMp3(dir.path(), "tone.mp3", 440, 8, kind.options);
    const DecodedAudio ref = decodeWithMpg123(mp3);
    ASSERT_EQ(ref.rate, kind.options.rate);
    ASSERT_EQ(ref.channels, kind.options.channels);

    ManualDeckRig rig(kind.options.rate);  // the output at the file's rate: no resampling
    Mp3Deck& deck = rig.deck();
    deck.setFileName(mp3);
    EXPECT_GT(deck.duration(), 0);
    deck.play();
    ASSERT_EQ(deck.playState(), Deck::Playing);
    const auto played = rig.renderUntilStopped(20 * kind.options.rate);

    EXPECT_EQ(deck.playState(), Deck::Stopped);
    EXPECT_TRUE(rig.errors.taken().empty());
    ASSERT_GE(played.size(), ref.frames());
    EXPECT_LT(played.size(), ref.frames() + 2 * ManualDeckRig::kBuffer);
    EXPECT_LT(maxDifference(played, ref), 1e-6);
    EXPECT_TRUE(allSilent(played, ref.frames()));
    // The length, exact to a frame: what lame encoded, when the file says so.
    if (kind.options.infoTag) {
        EXPECT_EQ(ref.frames(), std::size_t(8 * kind.options.rate));
    }
    EXPECT_DOUBLE_EQ(deck.duration(), double(ref.frames()) / ref.rate);
    EXPECT_EQ(deck.currentPosition(), 0);  // rewound at the end
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Mp3DeckFormats,
    ::testing::Values(Kind{"cbr44k", {.rate = 44100}}, Kind{"vbr48k", {.rate = 48000, .vbr = true}},
                      Kind{"mono22k", {.rate = 22050, .channels = 1}},
                      Kind{"monoVbr44k", {.rate = 44100, .channels = 1, .vbr = true}},
                      Kind{"vbrWithoutHeader", {.rate = 44100, .vbr = true, .infoTag = false}},
                      Kind{"cbrWithoutHeader", {.rate = 48000, .infoTag = false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Mp3Deck, VbrWithoutHeaderGetsItsExactLengthFromAScan) {
    TempDir dir;
    const std::string mp3 =
        makeToneMp3(dir.path(), "vbr.mp3", 440, 8, {.vbr = true, .infoTag = false});
    const DecodedAudio ref = decodeWithMpg123(mp3);
    ManualDeckRig rig(44100);
    rig.deck().setFileName(mp3);
    EXPECT_GT(rig.deck().duration(), 0);  // an estimate at once
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (rig.deck().duration() != double(ref.frames()) / 44100 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_DOUBLE_EQ(rig.deck().duration(), double(ref.frames()) / 44100);
}

TEST(Mp3Deck, ResamplesToTheOutputRateAtTheRightPitchAndSpeed) {
    TempDir dir;
    for (const int rate : {22050, 44100}) {
        const std::string mp3 = makeToneMp3(dir.path(), "t" + std::to_string(rate) + ".mp3", 1000,
                                            8, {.rate = rate, .channels = rate == 22050 ? 1 : 2});
        ManualDeckRig rig(48000);
        rig.deck().setFileName(mp3);
        rig.deck().play();
        const auto played = rig.renderUntilStopped(20 * 48000);
        const auto left = leftOf(played);
        ASSERT_GE(left.size(), 7u * 48000) << rate;
        const std::size_t end = endOfSound(left, 1e-4f);
        EXPECT_NEAR(double(end), 8.0 * 48000, 48) << rate;  // within 1 ms
        const std::vector<float> middle(left.begin() + 48000, left.begin() + 7 * 48000);
        EXPECT_NEAR(zeroCrossingFrequency(middle, 48000), 1000.0, 0.5) << rate;
        EXPECT_NEAR(toneAmplitude(middle, 48000, 1000), 0.5, 0.03) << rate;
        EXPECT_EQ(rig.deck().underrunFrames(), 0u);
    }
}

TEST(Mp3Deck, PositionCountsWhatWasPlayedAndPauseKeepsIt) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8, {.rate = 44100});
    const DecodedAudio ref = decodeWithMpg123(mp3);
    ManualDeckRig rig(44100);
    Mp3Deck& deck = rig.deck();
    deck.setFileName(mp3);
    EXPECT_EQ(deck.currentPosition(), 0);
    deck.play();
    EXPECT_EQ(deck.currentPosition(), 0);  // nothing played yet, whatever was decoded
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(deck.currentPosition(), 0);
    auto first = rig.render(44100);  // one second
    EXPECT_NEAR(deck.currentPosition(), 1.0, 1e-9);

    deck.pause();
    EXPECT_EQ(deck.playState(), Deck::Paused);
    const auto silent = rig.render(22050);
    EXPECT_TRUE(allSilent(silent, DeckVoice::kFadeFrames));  // after its fade-out
    EXPECT_NEAR(deck.currentPosition(), 1.0, 1e-9);

    deck.play();
    EXPECT_EQ(deck.playState(), Deck::Playing);
    auto second = rig.render(44100);
    EXPECT_NEAR(deck.currentPosition(), 2.0, 1e-9);
    first.insert(first.end(), second.begin(), second.end());
    // No sample lost or repeated over the pause: what faded out is heard again, rising.
    EXPECT_LT(maxDifference(first, ref, 0, {0, 44100}), 1e-6);

    deck.stop();
    EXPECT_EQ(deck.playState(), Deck::Stopped);
    EXPECT_EQ(deck.currentPosition(), 0);
    EXPECT_TRUE(allSilent(rig.render(4096)));
    deck.play();
    EXPECT_LT(maxDifference(rig.render(44100), ref), 1e-6);  // from the start again
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST(Mp3Deck, StepsTenSecondsSampleAccuratelyAndClamps) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 25, {.rate = 44100, .vbr = true});
    const DecodedAudio ref = decodeWithMpg123(mp3);
    ManualDeckRig rig(44100);
    Mp3Deck& deck = rig.deck();
    deck.setFileName(mp3);
    deck.play();
    rig.render(44100);
    deck.stepForward();
    EXPECT_NEAR(deck.currentPosition(), 11.0, 1e-9);  // at once, before anything is played
    EXPECT_EQ(deck.playState(), Deck::Playing);
    EXPECT_LT(maxDifference(rig.render(44100), ref, 11 * 44100), 1e-6);
    EXPECT_NEAR(deck.currentPosition(), 12.0, 1e-9);

    deck.stepBack();
    EXPECT_NEAR(deck.currentPosition(), 2.0, 1e-9);
    EXPECT_LT(maxDifference(rig.render(4410), ref, 2 * 44100), 1e-6);
    deck.stepBack();  // clamped at the start
    EXPECT_EQ(deck.currentPosition(), 0);
    EXPECT_LT(maxDifference(rig.render(4410), ref, 0), 1e-6);

    deck.pause();
    deck.stepForward();
    EXPECT_EQ(deck.playState(), Deck::Paused);
    EXPECT_NEAR(deck.currentPosition(), 10.1, 1e-9);
    deck.play();
    EXPECT_LT(maxDifference(rig.render(4410), ref, 10 * 44100 + 4410), 1e-6);

    deck.stepForward();  // 20.2 s
    deck.stepForward();  // past the end of 25 s: the track is over
    EXPECT_EQ(deck.playState(), Deck::Stopped);
    EXPECT_EQ(deck.currentPosition(), 0);
    deck.play();
    EXPECT_LT(maxDifference(rig.render(4410), ref, 0), 1e-6);
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST(Mp3Deck, SeeksAnywhereClampedAsTheStepsAre) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 12, {.rate = 44100});
    const DecodedAudio ref = decodeWithMpg123(mp3);
    ManualDeckRig rig(44100);
    Mp3Deck& deck = rig.deck();
    deck.setFileName(mp3);
    deck.play();
    struct Case {
        double target, position;
        int state;
    } cases[] = {{7.5, 7.5, Deck::Playing},
                 {0.25, 0.25, Deck::Playing},
                 {-3, 0, Deck::Playing},
                 {11.9, 11.9, Deck::Playing},
                 {12.5, 0, Deck::Stopped}};
    for (const auto& c : cases) {
        deck.play();
        deck.seek(c.target);
        EXPECT_NEAR(deck.currentPosition(), c.position, 1e-9) << c.target;
        EXPECT_EQ(deck.playState(), c.state) << c.target;
        if (c.state == Deck::Playing) {
            const auto from = static_cast<std::size_t>(std::llround(c.position * 44100));
            EXPECT_LT(maxDifference(rig.render(441), ref, from), 1e-6) << c.target;
        }
    }
    EXPECT_TRUE(rig.errors.taken().empty());
}

// The place a deck is put at start: paused there without a sound, from any state, and on
// from exactly there once played.
TEST(Mp3Deck, PausesAtAPlaceSilentlyAndGoesOnFromThere) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 12, {.rate = 44100});
    const DecodedAudio ref = decodeWithMpg123(mp3);
    ManualDeckRig rig(44100);
    Mp3Deck& deck = rig.deck();
    deck.pauseAt(3);  // nothing loaded: nothing to place
    EXPECT_EQ(deck.playState(), Deck::Stopped);
    deck.setFileName(mp3);
    struct Case {
        const char* before;  // the state it is put there from
        double target, position;
        int state;
    } cases[] = {{"stopped", 7.5, 7.5, Deck::Paused},
                 {"playing", 2.25, 2.25, Deck::Paused},
                 {"paused", 11.5, 11.5, Deck::Paused},
                 {"stopped", -3, 0, Deck::Paused},
                 {"playing", 12.5, 0, Deck::Stopped}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + " to " + std::to_string(c.target));
        deck.stop();
        if (std::string(c.before) != "stopped") {
            deck.play();
            rig.render(4410);
        }
        if (std::string(c.before) == "paused") deck.pause();
        deck.pauseAt(c.target);
        EXPECT_EQ(deck.playState(), c.state);
        EXPECT_NEAR(deck.currentPosition(), c.position, 1e-9);
        EXPECT_TRUE(allSilent(rig.render(22050), DeckVoice::kFadeFrames));
        EXPECT_NEAR(deck.currentPosition(), c.position, 1e-9);
        deck.play();
        const auto from = static_cast<std::size_t>(std::llround(c.position * 44100));
        EXPECT_LT(maxDifference(rig.render(4410), ref, from), 1e-6);
        EXPECT_NEAR(deck.currentPosition(), c.position + 0.1, 1e-9);
    }
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST(Mp3Deck, TwoDecksMixWithTheirVolumes) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 8, {.rate = 48000});
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 8, {.rate = 44100});
    ManualDeckRig rig(48000, 2);
    rig.deck(0).setFileName(a);
    rig.deck(1).setFileName(b);
    rig.deck(0).setVolume(0);
    rig.deck(1).setVolume(-600);
    rig.deck(0).play();
    rig.deck(1).play();
    rig.render(4800);
    const auto left = leftOf(rig.render(48000));
    const double a440 = toneAmplitude(left, 48000, 440);
    const double a880 = toneAmplitude(left, 48000, 880);
    EXPECT_NEAR(20 * std::log10(a440 / 0.5), 0.0, 0.5);
    EXPECT_NEAR(20 * std::log10(a880 / 0.5), -6.0, 0.5);  // -600: half the amplitude

    // A change is heard within one buffer.
    rig.deck(0).setVolume(-10000);
    rig.deck(1).setVolume(-2000);
    rig.render(512);
    const auto after = leftOf(rig.render(48000));
    EXPECT_LT(toneAmplitude(after, 48000, 440), 1e-6);
    EXPECT_NEAR(20 * std::log10(toneAmplitude(after, 48000, 880) / 0.5), -20.0, 0.5);
    rig.deck(1).setVolume(5000);  // clamped to 0
    rig.render(512);
    EXPECT_NEAR(toneAmplitude(leftOf(rig.render(48000)), 48000, 880), 0.5, 0.03);
}

TEST(Mp3Deck, ASilentDeckStartsSilent) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 2, {.rate = 48000});
    ManualDeckRig rig(48000);
    rig.deck().setFileName(mp3);
    rig.render(512);
    rig.deck().setVolume(-10000);
    rig.deck().play();
    EXPECT_TRUE(allSilent(rig.render(4800)));  // no fade from the old gain
}

TEST(Mp3Deck, NamesAndBareNames) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "song one.mp3", 440, 1);
    ManualDeckRig rig(48000);
    Mp3Deck& deck = rig.deck();
    EXPECT_EQ(deck.fileName(), "");
    EXPECT_EQ(deck.duration(), 0);
    EXPECT_EQ(deck.playState(), Deck::Stopped);
    deck.play();  // an empty deck: nothing happens
    EXPECT_EQ(deck.playState(), Deck::Stopped);

    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    deck.setFileName("song one.mp3");  // looked up in the current directory
    std::filesystem::current_path(old);
    EXPECT_EQ(deck.fileName(), "song one.mp3");
    EXPECT_NEAR(deck.duration(), 1.0, 1e-9);
    deck.play();
    EXPECT_EQ(deck.playState(), Deck::Playing);
    rig.renderUntilStopped(5 * 48000);
    EXPECT_EQ(deck.playState(), Deck::Stopped);

    deck.setFileName(mp3);
    EXPECT_EQ(deck.fileName(), "song one.mp3");
    deck.setFileName("");
    EXPECT_EQ(deck.fileName(), "");
    EXPECT_EQ(deck.duration(), 0);
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST(Mp3Deck, ANewFileStopsTheOldOne) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 8);
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 8);
    ManualDeckRig rig(44100);
    Mp3Deck& deck = rig.deck();
    deck.setFileName(a);
    deck.play();
    rig.render(44100);
    deck.setFileName(b);
    EXPECT_EQ(deck.playState(), Deck::Stopped);
    EXPECT_EQ(deck.currentPosition(), 0);
    EXPECT_TRUE(allSilent(rig.render(4096)));
    deck.play();
    const auto left = leftOf(rig.render(44100));
    EXPECT_NEAR(toneAmplitude(left, 44100, 880), 0.5, 0.03);
    EXPECT_LT(toneAmplitude(left, 44100, 440), 0.01);
}

// ---- bad input ----

class Mp3DeckBadInput : public ::testing::Test {
protected:
    // Sets the file, plays, and expects a refusal with one report naming the file.
    void expectRefused(const std::string& path, const std::string& cause) {
        deck().setFileName(path);
        EXPECT_EQ(deck().duration(), 0);
        deck().play();
        // Usually with the click; on a loaded machine later, once the deck has played to the
        // empty track's end.
        EXPECT_TRUE(rig.askUntil([&] { return deck().playState() == Deck::Stopped; },
                                 std::chrono::seconds(20)));
        const auto lines = rig.errors.taken();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "Cannot play " + path + ": " + cause);
        EXPECT_TRUE(allSilent(rig.render(2048)));
    }
    Mp3Deck& deck() { return rig.deck(); }
    TempDir dir;
    ManualDeckRig rig{44100};
};

TEST_F(Mp3DeckBadInput, EmptyFile) {
    writeBytes(dir.file("empty.mp3"), "");
    expectRefused(dir.file("empty.mp3"), "the file is empty");
}

TEST_F(Mp3DeckBadInput, RandomBytes) {
    // Refused, not decoded as noise: how soon is the decoder's benchmark's to say.
    writeBytes(dir.file("noise.mp3"), randomBytes(300 * 1024, 1));
    expectRefused(dir.file("noise.mp3"), "not an MP3 file");
}

TEST_F(Mp3DeckBadInput, TextFile) {
    writeBytes(dir.file("notes.mp3"), std::string(5000, 'x') + "\nhello\n");
    expectRefused(dir.file("notes.mp3"), "not an MP3 file");
}

TEST_F(Mp3DeckBadInput, OnlyAnId3Tag) {
    writeBytes(dir.file("tag.mp3"), id3Tag(1000));
    expectRefused(dir.file("tag.mp3"), "not an MP3 file");
}

TEST_F(Mp3DeckBadInput, MissingFile) {
    expectRefused(dir.file("nowhere.mp3"), "No such file or directory");
}

TEST_F(Mp3DeckBadInput, Directory) {
    std::filesystem::create_directory(dir.file("folder.mp3"));
    expectRefused(dir.file("folder.mp3"), "it is a directory");
}

TEST_F(Mp3DeckBadInput, Fifo) {
    ASSERT_EQ(mkfifo(dir.file("pipe.mp3").c_str(), 0600), 0);
    expectRefused(dir.file("pipe.mp3"), "not a regular file");
}

TEST_F(Mp3DeckBadInput, UnreadableFile) {
    const std::string mp3 = makeToneMp3(dir.path(), "locked.mp3", 440, 1);
    std::filesystem::permissions(mp3, std::filesystem::perms::none);
    // As root, read permission is not checked; an effective uid of nobody (which drops the
    // capability to override it, in every thread, the deck's decoder thread included) makes
    // the file unreadable as for a user. The saved uid lets the test become root again.
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    const int probe = ::open(mp3.c_str(), O_RDONLY);
    if (probe >= 0) {
        ::close(probe);
        if (root) {
            ASSERT_EQ(seteuid(0), 0);
        }
        GTEST_SKIP() << "cannot make a file unreadable here";
    }
    expectRefused(mp3, "Permission denied");
    if (root) {
        ASSERT_EQ(seteuid(0), 0);
    }
}

TEST_F(Mp3DeckBadInput, ARefusedFileIsTriedAgainOnTheNextPlay) {
    const std::string path = dir.file("later.mp3");
    expectRefused(path, "No such file or directory");
    makeToneMp3(dir.path(), "later.mp3", 440, 1);
    deck().play();
    EXPECT_EQ(deck().playState(), Deck::Playing);
    EXPECT_NEAR(deck().duration(), 1.0, 1e-9);
}

TEST_F(Mp3DeckBadInput, HugeId3TagIsSkipped) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8);
    const DecodedAudio ref = decodeWithMpg123(mp3);
    const std::string tagged = dir.file("tagged.mp3");
    writeBytes(tagged, id3Tag(6 * 1024 * 1024) + fileText(mp3));
    deck().setFileName(tagged);
    EXPECT_DOUBLE_EQ(deck().duration(), 8.0);
    deck().play();
    const auto played = rig.renderUntilStopped(20 * 44100);
    EXPECT_LT(maxDifference(played, ref), 1e-6);
    EXPECT_GE(played.size(), ref.frames());
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST_F(Mp3DeckBadInput, TruncatedFileEndsEarly) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8);
    const std::string bytes = fileText(mp3);
    writeBytes(dir.file("half.mp3"), bytes.substr(0, bytes.size() / 2 + 77));
    deck().setFileName(dir.file("half.mp3"));
    deck().play();
    const auto played = rig.renderUntilStopped(20 * 44100);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    EXPECT_NEAR(double(endOfSound(leftOf(played), 1e-3f)) / 44100, 4.0, 0.1);
}

TEST_F(Mp3DeckBadInput, JunkBetweenFramesIsSkipped) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8);
    std::string bytes = fileText(mp3);
    bytes.insert(bytes.size() / 2 + 13, randomBytes(20000, 3));
    writeBytes(dir.file("junk.mp3"), bytes);
    deck().setFileName(dir.file("junk.mp3"));
    deck().play();
    const auto played = rig.renderUntilStopped(20 * 44100);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    // Plays on past the damage: at most a few frames are lost.
    EXPECT_GT(double(endOfSound(leftOf(played), 1e-3f)) / 44100, 7.8);
    EXPECT_LT(played.size(), 9u * 44100);
}

TEST_F(Mp3DeckBadInput, FileDeletedWhilePlayingPlaysOn) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8);
    deck().setFileName(mp3);
    deck().play();
    rig.render(44100);
    std::filesystem::remove(mp3);
    auto played = rig.renderUntilStopped(20 * 44100);
    EXPECT_NEAR(double(44100 + endOfSound(leftOf(played), 1e-3f)) / 44100, 8.0, 0.01);
    EXPECT_TRUE(rig.errors.taken().empty());
}

TEST_F(Mp3DeckBadInput, FileReplacedWhilePlayingPlaysTheOldOneOn) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8);
    const std::string other = makeToneMp3(dir.path(), "o.mp3", 880, 2);
    deck().setFileName(mp3);
    deck().play();
    rig.render(44100);
    std::filesystem::rename(other, mp3);
    auto played = rig.renderUntilStopped(20 * 44100);
    const auto left = leftOf(played);
    EXPECT_NEAR(double(44100 + endOfSound(left, 1e-3f)) / 44100, 8.0, 0.01);
    EXPECT_NEAR(toneAmplitude(std::span(left).subspan(44100, 44100), 44100, 440), 0.5, 0.03);
}

TEST_F(Mp3DeckBadInput, FileCutShortWhilePlayingEndsTheTrack) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8);
    deck().setFileName(mp3);
    deck().play();
    rig.render(44100);
    ::truncate(mp3.c_str(), 1000);
    const auto played = rig.renderUntilStopped(20 * 44100);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    EXPECT_LT(played.size(), 3u * 44100);  // what was already decoded, at most
}

TEST_F(Mp3DeckBadInput, FileOverwrittenWithGarbageWhilePlayingEndsOrSkips) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 8);
    deck().setFileName(mp3);
    deck().play();
    rig.render(44100);
    writeBytes(mp3, randomBytes(fileText(mp3).size(), 9));  // same size, all garbage
    const auto played = rig.renderUntilStopped(60 * 44100);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    EXPECT_LT(played.size(), 9u * 44100);
}

}  // namespace

// The output dropped what it had queued (its server went away): asking the deck's state, as an
// MPRIS client may at any time, changes nothing; the tick's follow-up goes on from where the
// sound was heard.
TEST(Mp3Deck, GettersChangeNothingAfterTheOutputDroppedItsQueue) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 4, {.rate = 48000});
    ManualDeckRig rig(48000, 1, PauseQueue::Dropped);
    Mp3Deck& deck = rig.deck();
    deck.setFileName(mp3);
    deck.play();
    rig.render(24000);
    const DeckControl::Word before = deck.stream().control();
    // What the output's thread marks as its server goes away.
    const_cast<DeckStream&>(deck.stream()).outputSide().markDropped(before.epoch);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(deck.playState(), Deck::Playing);
        EXPECT_NEAR(deck.currentPosition(), 0.5, 0.02);
        EXPECT_NEAR(deck.duration(), 4.0, 0.05);
    }
    EXPECT_EQ(deck.stream().control(), before);

    deck.followOutput();
    EXPECT_NE(deck.stream().control().epoch, before.epoch);
    EXPECT_EQ(deck.playState(), Deck::Playing);
    EXPECT_NEAR(deck.currentPosition(), 0.5, 0.02);
    EXPECT_NEAR(toneAmplitude(leftOf(rig.render(24000)), 48000, 440), 0.5, 0.05);
    EXPECT_NEAR(deck.currentPosition(), 1.0, 0.02);
    EXPECT_TRUE(rig.errors.taken().empty());
}
