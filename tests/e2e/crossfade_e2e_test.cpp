// The real window and decks through SDL's disk driver: with a crossfade chosen, the playlist's
// next entry rises under the end of the last one, and the window moves on when it starts.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <fstream>
#include <numbers>

#include "app/form1.h"
#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "support/fade_in.h"
#include "support/file_text.h"
#include "support/kept_up.h"
#include "support/real_decks_window.h"
#include "support/sample_match.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

constexpr int kRate = 48000;

double powerDb(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i) sum += double(samples[i]) * samples[i];
    return 10 * std::log10(sum / double(count));
}

struct Case {
    const char* name;
    const char* stored;  // [Crossfade] Deck1
    double trackSeconds;
    double overlapSeconds;  // what is heard
};

class EndToEndCrossfade : public testing::TestWithParam<Case> {};

TEST_P(EndToEndCrossfade, TheNextEntryRisesUnderTheEndOfTheLast) {
    const Case& c = GetParam();
    TempDir music, work;
    const std::string first =
        makeToneMp3(music.path(), "1 low.mp3", 440, c.trackSeconds, {.rate = kRate});
    const std::string second =
        makeToneMp3(music.path(), "2 mid.mp3", 660, c.trackSeconds, {.rate = kRate});
    const DecodedAudio a = decodeWithMpg123(first);
    const DecodedAudio b = decodeWithMpg123(second);
    const std::string settings = work.file("velmor-mp3-player.ini");
    std::ofstream(settings) << "[Crossfade]\nDeck1=" << c.stored << "\n";
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", work.file("out.raw"));
    ScopedEnv delay("SDL_DISKAUDIODELAY", "10");  // ms per 21.3 ms buffer: twice real time
    struct Run {
        std::vector<float> recorded;
        std::uint64_t underruns = 0;
        double positionWhenMoved = -1;
    };
    const Run run = firstRunThatKeptUp([&] {
        Run result;
        RecordingErrorSink errors;
        {
            RealDecksWindow window(errors, settings);
            Form1& form = window.form;
            Mp3Deck& deck1 = window.deck1;
            FakeFileDialog& playDirDialog = window.playDirDialog;
            form.show();
            playDirDialog.answer = first;
            QTest::mouseClick(form.controls().Command6, Qt::LeftButton);  // "Play Dir"
            EXPECT_TRUE(QTest::qWaitFor([&] { return form.state().TrackNumber == 2; }, 30000));
            // The next entry's clock counts from where it started to rise.
            result.positionWhenMoved = deck1.currentPosition();
            EXPECT_EQ(form.state().CurrentFile, "2 mid.mp3");
            EXPECT_EQ(form.controls().List4->currentRow(), 1);
            EXPECT_TRUE(form.windowTitle().endsWith("2 mid.mp3"));
            // Until the playlist, repeating, starts the next crossfade: the next entry has
            // been heard whole.
            EXPECT_TRUE(QTest::qWaitFor([&] { return form.state().TrackNumber == 1; }, 30000));
            result.underruns = deck1.underrunFrames();
        }
        EXPECT_TRUE(errors.taken().empty());
        result.recorded = fileFloats(work.file("out.raw"));
        return result;
    });
    ASSERT_EQ(run.underruns, 0u) << "the machine was too busy to judge the crossfade";
    EXPECT_LT(run.positionWhenMoved, 1.0) << "the window moved on only at the track's end";

    const std::vector<float>& recorded = run.recorded;
    const std::vector<float> startA = fadedIn(a.samples, 2);
    const std::size_t start = findStart(recorded, startA);
    ASSERT_NE(start, std::string::npos) << "the first track is not there sample for sample";
    // The first track alone, up to the fade's start.
    const auto overlap = static_cast<std::size_t>(std::lround(c.overlapSeconds * kRate));
    ASSERT_GT(a.frames(), overlap);
    const std::size_t alone = 2 * (a.frames() - overlap);
    ASSERT_LE(start + 2 * (a.frames() + b.frames() - 2 * overlap), recorded.size());
    EXPECT_LT(worstDifference(recorded, start, startA, alone), 1e-6);

    // Each on its equal-power curve, at its own level.
    std::vector<float> mixed(2 * overlap);
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        const double t = (double(i / 2) + 0.5) / double(overlap);
        mixed[i] = float(a.samples[alone + i] * std::cos(t * std::numbers::pi / 2) +
                         b.samples[i] * std::sin(t * std::numbers::pi / 2));
    }
    EXPECT_LT(worstDifference(recorded, start + alone, mixed, mixed.size()), 1e-5);
    const std::size_t window = 2 * kRate / 10;
    const std::size_t middle = start + alone + mixed.size() / 2 - window / 2;
    EXPECT_NEAR(powerDb(recorded, middle, window), powerDb(a.samples, 0, window), 1.0);
    // Then the next entry alone, from where the fade left it, up to its own fade.
    const std::size_t after = 2 * (b.frames() - 2 * overlap);
    EXPECT_LT(
        worstDifference(recorded, start + alone + mixed.size(),
                        std::vector<float>(b.samples.begin() + long(mixed.size()), b.samples.end()),
                        after),
        1e-6);
}

INSTANTIATE_TEST_SUITE_P(Lengths, EndToEndCrossfade,
                         testing::Values(Case{"FourSeconds", "4", 9, 4.0},
                                         // Tracks shorter than twice the crossfade: half a track.
                                         Case{"EightSecondsOverSixSecondTracks", "8", 6, 3.0}),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
