// The real window with the real decks (no sound device needed) on a music folder whose first
// track lies on a disk that stops answering: the window's event loop, and with it the 10 ms
// tick, goes on while the track cannot be read.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/form1.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"
#include "engine/mp3_deck.h"
#include "engine/sdl_output.h"
#include "support/hanging_mount.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

TEST(HungDiskEndToEnd, TheWindowTicksOnWhileATrackCannotBeRead) {
    TempDir music, fuse;
    makeToneMp3(music.path(), "1 hang.mp3", 440, 2);
    makeToneMp3(music.path(), "2 good.mp3", 660, 2);
    RecordingErrorSink errors;
    FakeMixer mixer;
    FakeJoystick joystick;
    FakeFileDialog playFileDialog, playDirDialog;
    SdlOutput::Options options;
    options.useDevice = false;
    SdlOutput output(errors, options);
    Mp3Deck deck1(output, errors), deck2(output, errors);
    HangingMount mount(music.path(), fuse.path());  // after the decks: released before they go
    if (!mount.available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";

    Form1 form(Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
               fuse.file("velmor-mp3-player.ini"));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    playDirDialog.answer = mount.path("1 hang.mp3");
    QTest::mouseClick(form.controls().Command6, Qt::LeftButton);

    // A 10 ms timer beside the window's own: its gaps are the event loop's.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed(), longest = 0;
    int beats = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
        ++beats;
    });
    probe.start(10);
    QTest::qWait(2500);
    probe.stop();
    std::printf("event loop while the disk hung: %d beats in 2.5 s, longest gap %lld ms\n", beats,
                static_cast<long long>(longest));
    EXPECT_LT(longest, 100);
    EXPECT_GT(beats, 100);
    EXPECT_EQ(deck1.playState(), Deck::Playing);  // not taken for the track's end
    EXPECT_EQ(form.state().playerState, PlayerState::Playing);
    const auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("has taken more than 2 s"), std::string::npos) << lines[0];

    QTest::mouseClick(form.controls().Command3, Qt::LeftButton);  // "Stop", at once
    EXPECT_EQ(deck1.playState(), Deck::Stopped);
    mount.release();
}

}  // namespace
