// The real window with the real decks (no sound device needed) on a music folder whose first
// track lies on a disk that stops answering: the window's event loop, and with it the 10 ms
// tick, goes on while the track cannot be read.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/form1.h"
#include "components/stranded_threads.h"
#include "support/deviceless_window_parts.h"
#include "support/file_text.h"
#include "support/hanging_mount.h"
#include "support/loop_probe.h"
#include "support/mount_watchdog.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

// The threads of this process now.
int threadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

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

    MountWatchdog watchdog(mount);
    LoopProbe probe;
    // A hundred beats of the loop, and the line that says why nothing comes, while the disk
    // still holds the track: a loop that waited on it would beat only once the watchdog let go.
    const bool answered = QTest::qWaitFor(
        [&] { return probe.beats() >= 100 && !parts.errors.taken().empty(); }, 60000);
    probe.stop();
    std::printf("event loop while the disk hung: %d beats in %lld ms, longest gap %lld ms\n",
                probe.beats(), static_cast<long long>(probe.elapsed()),
                static_cast<long long>(probe.longestGap()));
    EXPECT_TRUE(answered);
    EXPECT_TRUE(mount.holds("1 hang.mp3"));
    EXPECT_FALSE(watchdog.fired()) << "the window waited for the disk";
    EXPECT_EQ(parts.deck1.playState(), Deck::Playing);  // not taken for the track's end
    EXPECT_EQ(form.state().playerState, PlayerState::Playing);
    const auto lines = parts.errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("has taken more than 2 s"), std::string::npos) << lines[0];

    QTest::mouseClick(form.controls().Command3, Qt::LeftButton);  // "Stop", at once
    EXPECT_EQ(parts.deck1.playState(), Deck::Stopped);
    watchdog.releaseNow();
}

// Twenty tracks skipped through with ">>" on a dead network mount, then a local file played with
// "Play File": it plays on deck 1, and the player's threads stay bounded.
TEST(HungDiskEndToEnd, ALocalFilePlaysAfterTwentyTracksSkippedOnADeadMount) {
    TempDir music, fuse;
    const std::string bytes = fileText(makeToneMp3(fuse.path(), "tone.mp3", 440, 2));
    constexpr int kFiles = 20;
    const auto hungName = [](int i) {
        return "1 hang slow " + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".mp3";
    };
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(music.file(hungName(i)), std::ios::binary) << bytes;
    const std::string local = makeToneMp3(fuse.path(), "ok.mp3", 660, 2);
    DevicelessWindowParts parts;
    HangingMount mount(music.path(), fuse.path());  // after the decks: released before they go
    if (!mount.available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";

    Form1 form(parts.components(), fuse.file("velmor-mp3-player.ini"));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const int before = threadCount();
    parts.playDirDialog.answer = mount.path(hungName(0));
    QTest::mouseClick(form.controls().Command6, Qt::LeftButton);
    for (int i = 1; i < kFiles; ++i) {
        QTest::mouseClick(form.controls().Command10, Qt::LeftButton);  // ">>"
        QTest::qWait(20);  // a tick or two between clicks, as a hand gives them
    }

    parts.playFileDialog.answer = local;
    QTest::mouseClick(form.controls().Command2, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return parts.deck1.fileName() == "ok.mp3" && !parts.deck1.stillOpening() &&
                   parts.deck1.playState() == Deck::Playing && parts.deck1.duration() > 0;
        },
        20000))
        << "the local file does not play";
    for (const auto& line : parts.errors.taken())
        EXPECT_EQ(line.find(local + ":"), std::string::npos) << line;
    const int during = threadCount();
    std::printf("threads: %d before, %d after %d tracks on a dead mount and one local\n", before,
                during, kFiles);
    // The deck's lanes left on the dead disk, two threads each, one over its share at most;
    // and the playlist folder's watch, whose thread may still be ending, or held by that disk.
    EXPECT_LE(during - before, StrandedThreads::kPerDisk + 3);
    mount.release();
}

}  // namespace
