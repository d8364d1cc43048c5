// The ReplayGain files carry, read from real MP3 files (lame's, with tags written byte by
// byte), and the gain a deck gets from tags and measures.
#include "engine/loudness/replay_gain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>

#include "engine/loudness/levelling_gain.h"
#include "support/file_text.h"
#include "support/replay_gain_bytes.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

using namespace ReplayGainBytes;
using std::nullopt;
using Gain = std::optional<double>;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

void expectNear(const Gain& actual, const Gain& expected, double tolerance, const char* what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(actual.has_value(), expected.has_value())
        << (actual ? std::to_string(*actual) : "absent");
    if (expected) {
        EXPECT_NEAR(*actual, *expected, tolerance);
    }
}

struct TagCase {
    const char* name;
    std::vector<std::string> frames;  // ID3v2.4 frames put before the file; none: no tag
    std::optional<double> lameGainDb;
    ReplayGainTags expected;
    std::string lameEncoder = "";  // the LAME header's encoder and version, when not lame's own
};

TEST(ReplayGainTags, ReadFromTxxxRva2AndTheLameHeader) {
    TempDir dir;
    // No gain of lame's own in the header, so that what is read is what the row wrote.
    const std::string plain =
        makeToneMp3(dir.path(), "plain.mp3", 997, 1, {.amplitude = 0.25, .replayGain = false});
    const std::vector<TagCase> cases = {
        {"untagged", {}, nullopt, {}},
        {"TXXX -6", {txxxFrame("replaygain_track_gain", "-6.00 dB")}, nullopt, {.trackGainDb = -6}},
        {"TXXX 0", {txxxFrame("REPLAYGAIN_TRACK_GAIN", "0.00 dB")}, nullopt, {.trackGainDb = 0}},
        {"TXXX +6 with peaks and album",
         {txxxFrame("replaygain_track_gain", "+6.00 dB"),
          txxxFrame("replaygain_track_peak", "0.250000"),
          txxxFrame("replaygain_album_gain", "-3.5 dB"), txxxFrame("replaygain_album_peak", "0.9")},
         nullopt,
         {.trackGainDb = 6, .trackPeak = 0.25, .albumGainDb = -3.5, .albumPeak = 0.9}},
        {"RVA2 -6", {rva2Frame("track", -6, 0.5)}, nullopt, {.trackGainDb = -6, .trackPeak = 0.5}},
        {"RVA2 0", {rva2Frame("track", 0, 0.5)}, nullopt, {.trackGainDb = 0, .trackPeak = 0.5}},
        {"RVA2 +6 track and album",
         {rva2Frame("track", 6, 0.25), rva2Frame("album", 2, 0.75)},
         nullopt,
         {.trackGainDb = 6, .trackPeak = 0.25, .albumGainDb = 2, .albumPeak = 0.75}},
        {"LAME -6", {}, -6.0, {.trackGainDb = -6}},
        {"LAME 0", {}, 0.0, {.trackGainDb = 0}},
        {"LAME +6", {}, 6.0, {.trackGainDb = 6}},
        // Before 3.95 lame's reference was 6 dB lower.
        {"old LAME -6", {}, -6.0, {.trackGainDb = 0}, "LAME3.90 "},
        {"LAME 3.95", {}, -6.0, {.trackGainDb = -6}, "LAME3.95 "},
        {"RVA2 before TXXX before LAME",
         {txxxFrame("replaygain_track_gain", "-2 dB"), rva2Frame("track", -4, 0.5)},
         -1.0,
         {.trackGainDb = -4, .trackPeak = 0.5}},
        {"TXXX before LAME, with its peak",
         {txxxFrame("replaygain_track_gain", "-2 dB"), txxxFrame("replaygain_track_peak", "0.5")},
         -1.0,
         {.trackGainDb = -2, .trackPeak = 0.5}},
        {"absurd TXXX values are absent",
         {txxxFrame("replaygain_track_gain", "+100 dB"),
          txxxFrame("replaygain_album_gain", "nan dB"), txxxFrame("replaygain_track_peak", "0"),
          txxxFrame("replaygain_album_peak", "-0.5")},
         nullopt,
         {}},
        {"absurd TXXX gain falls back to the LAME header",
         {txxxFrame("replaygain_track_gain", "-100 dB")},
         -3.0,
         {.trackGainDb = -3}},
        {"absurd RVA2 gain is absent", {rva2FrameUnits("track", 60 * 512)}, nullopt, {}},
        // A peak no decoded MP3 reaches would hold the gain at 1/peak: -3 dB with a peak of 15
        // would play at -23.5 dB.
        {"absurd TXXX peaks are absent, their gains kept",
         {txxxFrame("replaygain_track_gain", "-3 dB"), txxxFrame("replaygain_track_peak", "15"),
          txxxFrame("replaygain_album_gain", "-4 dB"), txxxFrame("replaygain_album_peak", "2.5")},
         nullopt,
         {.trackGainDb = -3, .albumGainDb = -4}},
        {"a peak a little over full scale is kept",
         {txxxFrame("replaygain_track_gain", "-3 dB"), txxxFrame("replaygain_track_peak", "1.4")},
         nullopt,
         {.trackGainDb = -3, .trackPeak = 1.4}},
        {"RVA2 without a peak", {rva2FrameUnits("album", -5 * 512)}, nullopt, {.albumGainDb = -5}},
    };
    for (const TagCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file("case.mp3");
        std::filesystem::copy_file(plain, file, std::filesystem::copy_options::overwrite_existing);
        if (c.lameGainDb) setLameTrackGain(file, *c.lameGainDb);
        if (!c.lameEncoder.empty()) setLameEncoder(file, c.lameEncoder);
        if (!c.frames.empty()) {
            const std::string bytes = id3v24Tag(c.frames) + fileText(file);
            std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        }
        const ReplayGainTags read = readReplayGainTags(file);
        expectNear(read.trackGainDb, c.expected.trackGainDb, 0.1, "track gain");
        expectNear(read.trackPeak, c.expected.trackPeak, 1e-3, "track peak");
        expectNear(read.albumGainDb, c.expected.albumGainDb, 0.1, "album gain");
        expectNear(read.albumPeak, c.expected.albumPeak, 1e-3, "album peak");
    }
}

// What lame measures and writes by itself is read as the track's gain, with the peak it found.
TEST(ReplayGainTags, LameWritesAGainThatIsRead) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 997, 2, {.amplitude = 0.5});
    setLamePeak(mp3, 0.5);
    const ReplayGainTags tags = readReplayGainTags(mp3);
    ASSERT_TRUE(tags.trackGainDb.has_value());
    // A loud tone needs its level lowered, by lame's own reckoning.
    EXPECT_LT(*tags.trackGainDb, -1.0);
    EXPECT_NEAR(tags.trackPeak.value_or(0), 0.5, 1e-6);
}

TEST(ReplayGainTags, AnyBytesAreReadWithoutACrash) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 1);
    const std::string sound = fileText(mp3);
    std::string huge = id3v24Tag({txxxFrame("replaygain_track_gain", std::string(100000, '9'))});
    // A frame claiming more than the tag holds, and a tag claiming more than the file holds.
    std::string lying = id3v24Tag({rva2Frame("track", -6, 0.5)});
    lying[10 + 4 + 3] = 0x7F;
    std::string cut = id3v24Tag({rva2Frame("track", -6, 0.5)});
    cut = cut.substr(0, 20);
    const std::vector<std::pair<const char*, std::string>> files = {
        {"empty", ""},
        {"junk", std::string(5000, '\xFF')},
        {"huge TXXX", huge + sound},
        {"lying frame size", lying + sound},
        {"cut tag", cut},
        {"header only", sound.substr(0, 200)},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const std::string file = dir.file("bad.mp3");
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        const ReplayGainTags tags = readReplayGainTags(file);
        EXPECT_FALSE(tags.trackGainDb && std::fabs(*tags.trackGainDb) > 51);
    }
    EXPECT_EQ(readReplayGainTags(dir.file("missing.mp3")), ReplayGainTags{});
    EXPECT_EQ(readReplayGainTags(dir.path()), ReplayGainTags{});
}

TEST(ReplayGainText, GainsAndPeaksAsTagWritersSpellThem) {
    struct Case {
        const char* text;
        Gain gain;
        Gain peak;
    };
    const std::vector<Case> cases = {
        {"-6.50 dB", -6.5, nullopt},
        {"+6 dB", 6, nullopt},
        {" 0.000000 dB ", 0, nullopt},
        {"3dB", 3, nullopt},
        {"0.988525", 0.988525, 0.988525},
        {"-51.01 dB", nullopt, nullopt},
        {"nan", nullopt, nullopt},
        {"inf dB", nullopt, nullopt},
        {"", nullopt, nullopt},
        {"6 dBx", nullopt, nullopt},
        {"+-6", nullopt, nullopt},
        {"6,5 dB", nullopt, nullopt},
        {"0", 0, nullopt},
        {"30", 30, nullopt},
        {"1.9", 1.9, 1.9},
        {"2.5", 2.5, nullopt},
        {"15", 15, nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        expectNear(ReplayGainText::gainDb(c.text), c.gain, 1e-9, "gain");
        expectNear(ReplayGainText::peak(c.text), c.peak, 1e-9, "peak");
    }
}

double db(double value) {
    return std::pow(10.0, value / 20);
}

TEST(LevellingGain, FromTagsAndMeasuresNeverClipping) {
    struct Case {
        const char* name;
        LevellingInfo info;
        LevellingMode mode;
        double preampDb;
        Gain expected;
    };
    const ReplayGainTags both{
        .trackGainDb = -6, .trackPeak = 0.5, .albumGainDb = -10, .albumPeak = 0.9};
    const MeasuredLoudness loud{-6, 0.5};
    const MeasuredLoudness quiet{-30, 0.03};
    const std::vector<Case> cases = {
        {"off is the file's own level", {both, loud}, LevellingMode::Off, 6, 1.0},
        {"off, nothing known", {}, LevellingMode::Off, 0, 1.0},
        {"track gain", {both, nullopt}, LevellingMode::Track, 0, db(-6)},
        {"album gain", {both, nullopt}, LevellingMode::Album, 0, db(-10)},
        {"album falls back to track",
         {{.trackGainDb = -4}, nullopt},
         LevellingMode::Album,
         0,
         db(-4)},
        {"track ignores the album's",
         {{.albumGainDb = -4}, loud},
         LevellingMode::Track,
         0,
         db(-12)},
        {"pre-amp is added", {both, nullopt}, LevellingMode::Track, 3, db(-3)},
        {"untagged, not measured: not known", {}, LevellingMode::Track, 0, nullopt},
        {"untagged album, not measured: not known", {}, LevellingMode::Album, 0, nullopt},
        {"measured loud", {{}, loud}, LevellingMode::Track, 0, db(-12)},
        {"measured quiet", {{}, quiet}, LevellingMode::Album, 0, db(12)},
        {"tag wins over the measure", {{.trackGainDb = 2}, loud}, LevellingMode::Track, 0, db(2)},
        {"+12 dB on a peak of 0.5 gives 2",
         {{.trackGainDb = 12, .trackPeak = 0.5}, nullopt},
         LevellingMode::Track,
         0,
         2.0},
        {"pre-amp limited by the peak too",
         {{.trackGainDb = 0, .trackPeak = 0.5}, nullopt},
         LevellingMode::Track,
         12,
         2.0},
        {"album peak limits the album gain",
         {{.trackGainDb = 0, .trackPeak = 0.25, .albumGainDb = 12, .albumPeak = 0.8}, nullopt},
         LevellingMode::Album,
         0,
         1.25},
        {"measured peak limits a tag without one",
         {{.trackGainDb = 12}, loud},
         LevellingMode::Track,
         0,
         2.0},
        {"measured peak limits the measure",
         {{}, MeasuredLoudness{-40, 0.5}},
         LevellingMode::Track,
         0,
         2.0},
        {"raised without a known peak: not above its own level",
         {{.trackGainDb = 6}, nullopt},
         LevellingMode::Track,
         0,
         1.0},
        {"lowered without a known peak",
         {{.trackGainDb = -6}, nullopt},
         LevellingMode::Track,
         0,
         db(-6)},
        {"silence stays as it is", {{}, MeasuredLoudness{-kInf, 0}}, LevellingMode::Track, 0, 1.0},
        {"a measure that went wrong",
         {{}, MeasuredLoudness{kNan, 0}},
         LevellingMode::Track,
         0,
         1.0},
        {"near silence gets no more than a tag could",
         {{}, MeasuredLoudness{-100, 1e-9}},
         LevellingMode::Track,
         0,
         db(51)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Gain gain = Levelling::gain(c.info, c.mode, c.preampDb);
        expectNear(gain, c.expected, 1e-6, "factor");
    }
}

// Before a file's gain is known: the pre-amp, held by the tags' peak, and never above the
// file's own level without one.
TEST(LevellingGain, TheGuessRaisesAFileOnlyAsFarAsAKnownPeak) {
    struct Case {
        const char* name;
        ReplayGainTags tags;
        LevellingMode mode;
        double preampDb;
        double expected;
    };
    const std::vector<Case> cases = {
        {"no peak: at most its own level", {}, LevellingMode::Track, 12, 1.0},
        {"a peak-only tag leaves room", {.trackPeak = 0.25}, LevellingMode::Track, 12, db(12)},
        {"up to full scale", {.trackPeak = 0.5}, LevellingMode::Track, 12, 2.0},
        {"the album's peak in Album",
         {.trackPeak = 0.9, .albumPeak = 0.5},
         LevellingMode::Album,
         12,
         2.0},
        {"a lowering pre-amp as it is", {}, LevellingMode::Track, -3, db(-3)},
        {"off", {.trackPeak = 0.25}, LevellingMode::Off, 12, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(Levelling::guess(c.tags, c.mode, c.preampDb), c.expected, 1e-9);
    }
}

}  // namespace
