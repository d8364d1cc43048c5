// The real window and decks through SDL's disk driver, on a folder that changes while it plays:
// the playing file and the one cued after it are removed; the playing one sounds to its end and
// the entry that followed both joins it directly.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "app/form1.h"
#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "playback/live_playlist.h"
#include "support/fade_in.h"
#include "support/file_text.h"
#include "support/kept_up.h"
#include "support/real_decks_window.h"
#include "support/sample_match.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

namespace fs = std::filesystem;

TEST(EndToEndLivePlaylist, ARemovedPlayingFileEndsAndTheEntryAfterItJoins) {
    TempDir tones, work;
    const std::string low = makeToneMp3(tones.path(), "1 low.mp3", 440, 5, {.rate = 48000});
    makeToneMp3(tones.path(), "2 mid.mp3", 660, 5, {.rate = 48000});
    const std::string high = makeToneMp3(tones.path(), "3 high.mp3", 880, 5, {.rate = 48000});
    const DecodedAudio referenceLow = decodeWithMpg123(low);
    const DecodedAudio referenceHigh = decodeWithMpg123(high);
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", work.file("out.raw"));
    ScopedEnv delay("SDL_DISKAUDIODELAY", "20");  // ms per 21.3 ms buffer: about real time
    struct Run {
        std::vector<float> recorded;
        std::uint64_t underruns = 0;
    };
    const Run run = firstRunThatKeptUp([&] {
        Run result;
        const std::string music = work.file("music") + "/";
        fs::remove_all(music);
        fs::copy(tones.path(), music);
        RecordingErrorSink errors;
        {
            RealDecksWindow window(errors, work.file("velmor-mp3-player.ini"));
            Form1& form = window.form;
            Mp3Deck& deck1 = window.deck1;
            FakeFileDialog& playDirDialog = window.playDirDialog;
            form.show();
            playDirDialog.answer = music + "1 low.mp3";
            QTest::mouseClick(form.controls().Command6, Qt::LeftButton);  // "Play Dir"
            // Within the last 3 s the deck has been cued "2 mid.mp3".
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    return form.livePlaylist().watch().listings() >= 1 &&
                           deck1.currentPosition() > 2.2;
                },
                20000));
            fs::remove(music + "1 low.mp3");
            fs::remove(music + "2 mid.mp3");
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return form.controls().List4->count() == 1; }, 20000));
            EXPECT_EQ(deck1.playState(), Deck::Playing);
            EXPECT_EQ(form.state().CurrentFile, "1 low.mp3");
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    return form.state().CurrentFile == "3 high.mp3" &&
                           deck1.currentPosition() > 1.0;
                },
                20000));
            EXPECT_EQ(form.state().TrackNumber, 1);
            EXPECT_EQ(form.controls().List4->currentRow(), 0);
            EXPECT_EQ(deck1.fileName(), "3 high.mp3");
            result.underruns = deck1.underrunFrames();
        }
        EXPECT_TRUE(errors.taken().empty()) << errors.taken()[0];
        result.recorded = fileFloats(work.file("out.raw"));
        return result;
    });
    ASSERT_EQ(run.underruns, 0u) << "the machine was too busy to judge the join";
    const std::vector<float> startLow = fadedIn(referenceLow.samples, 2);
    const std::size_t start = findStart(run.recorded, startLow);
    ASSERT_NE(start, std::string::npos) << "the first track is not there sample for sample";
    const std::size_t join = start + referenceLow.samples.size();
    ASSERT_LE(join + 48000 * 2, run.recorded.size());
    EXPECT_LT(worstDifference(run.recorded, start, startLow, startLow.size()), 1e-6)
        << "the removed track did not sound to its end";
    EXPECT_LT(worstDifference(run.recorded, join, referenceHigh.samples, 48000 * 2), 1e-6)
        << "the entry after the removed ones does not follow directly";
}

}  // namespace
