// The real window and decks through SDL's disk driver: when the playlist moves on by itself,
// the last sample of one track is followed directly by the first of the next.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <fstream>

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

TEST(EndToEndGapless, AnAutomaticAdvanceJoinsTheTracksSampleExactly) {
    TempDir music, work;
    const std::string first = makeToneMp3(music.path(), "1 low.mp3", 440, 2, {.rate = 48000});
    const std::string second = makeToneMp3(music.path(), "2 mid.mp3", 660, 2, {.rate = 48000});
    const DecodedAudio referenceA = decodeWithMpg123(first);
    const DecodedAudio referenceB = decodeWithMpg123(second);
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", work.file("out.raw"));
    ScopedEnv delay("SDL_DISKAUDIODELAY", "10");  // ms per 21.3 ms buffer: twice real time
    struct Run {
        std::vector<float> recorded;
        std::uint64_t underruns = 0;
    };
    const Run run = firstRunThatKeptUp([&] {
        Run result;
        RecordingErrorSink errors;
        {
            RealDecksWindow window(errors, work.file("velmor-mp3-player.ini"));
            Form1& form = window.form;
            Mp3Deck& deck1 = window.deck1;
            FakeFileDialog& playDirDialog = window.playDirDialog;
            form.show();
            playDirDialog.answer = first;
            QTest::mouseClick(form.controls().Command6, Qt::LeftButton);  // "Play Dir"
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return form.state().TrackNumber == 2 && deck1.currentPosition() > 1.0; },
                20000));
            // The window moved on as it always does.
            EXPECT_EQ(form.state().CurrentFile, "2 mid.mp3");
            EXPECT_EQ(form.controls().List4->currentRow(), 1);
            EXPECT_TRUE(form.windowTitle().endsWith("2 mid.mp3"));
            EXPECT_EQ(deck1.playState(), Deck::Playing);
            result.underruns = deck1.underrunFrames();
        }
        EXPECT_TRUE(errors.taken().empty());
        result.recorded = fileFloats(work.file("out.raw"));
        return result;
    });
    ASSERT_EQ(run.underruns, 0u) << "the machine was too busy to judge the join";
    const std::vector<float>& recorded = run.recorded;
    // The first track starts from silence, and rises; the second follows it untouched.
    const std::vector<float> startA = fadedIn(referenceA.samples, 2);
    const std::size_t start = findStart(recorded, startA);
    ASSERT_NE(start, std::string::npos) << "the first track is not there sample for sample";
    const std::size_t join = start + referenceA.samples.size();
    ASSERT_LE(join + 48000 * 2, recorded.size());
    EXPECT_LT(worstDifference(recorded, start, startA, startA.size()), 1e-6);
    EXPECT_LT(worstDifference(recorded, join, referenceB.samples, 48000 * 2), 1e-6)
        << "the second track does not follow the first directly";
}

}  // namespace
