// The real window with the real decks (no sound device needed) on a music folder whose first
// track lies on a disk that stops answering: the window's event loop, and with it the 10 ms
// tick, goes on while the track cannot be read.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "app/form1.h"
#include "support/deviceless_window_parts.h"
#include "support/hanging_mount.h"
#include "support/loop_probe.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

TEST(HungDiskEndToEnd, TheWindowTicksOnWhileATrackCannotBeRead) {
    TempDir music, fuse;
    makeToneMp3(music.path(), "1 hang.mp3", 440, 2);
    makeToneMp3(music.path(), "2 good.mp3", 660, 2);
    DevicelessWindowParts parts;
    HangingMount mount(music.path(), fuse.path());  // after the decks: released before they go
    if (!mount.available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";

    Form1 form(parts.components(), fuse.file("velmor-mp3-player.ini"));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    parts.playDirDialog.answer = mount.path("1 hang.mp3");
    QTest::mouseClick(form.controls().Command6, Qt::LeftButton);

    LoopProbe probe;
    QTest::qWait(2500);
    probe.stop();
    std::printf("event loop while the disk hung: %d beats in 2.5 s, longest gap %lld ms\n",
                probe.beats(), static_cast<long long>(probe.longestGap()));
    EXPECT_LT(probe.longestGap(), 100);
    EXPECT_GT(probe.beats(), 100);
    EXPECT_EQ(parts.deck1.playState(), Deck::Playing);  // not taken for the track's end
    EXPECT_EQ(form.state().playerState, PlayerState::Playing);
    const auto lines = parts.errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("has taken more than 2 s"), std::string::npos) << lines[0];

    QTest::mouseClick(form.controls().Command3, Qt::LeftButton);  // "Stop", at once
    EXPECT_EQ(parts.deck1.playState(), Deck::Stopped);
    mount.release();
}

}  // namespace
