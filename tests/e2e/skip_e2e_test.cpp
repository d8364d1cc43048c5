// The real window with the real decks (no sound device needed) on a folder of files that are
// not MP3 at all, one good track among them: ">>" goes over the lot, entry by entry, while the
// window's event loop answers throughout.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/form1.h"
#include "playback/playlist_navigation.h"
#include "support/deviceless_window_parts.h"
#include "support/loop_probe.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

TEST(SkipEndToEnd, SkippingOverAFolderOfJunkKeepsTheWindowAnswering) {
    constexpr int kJunk = 500;
    TempDir music, home;
    makeToneMp3(music.path(), "0000 good.mp3", 440, 2);
    for (int i = 1; i <= kJunk; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%04d.mp3", i);
        std::ofstream(music.file(name)) << std::string(8192, 'x');
    }
    DevicelessWindowParts parts;
    auto& errors = parts.errors;
    auto& deck1 = parts.deck1;
    Form1 form(parts.components(), home.file("velmor-mp3-player.ini"));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    parts.playDirDialog.answer = music.file("0000 good.mp3");
    QTest::mouseClick(form.controls().Command6, Qt::LeftButton);
    ASSERT_EQ(form.state().TrackCount, kJunk + 1);
    ASSERT_EQ(deck1.playState(), Deck::Playing);

    // The most files tried in one turn of the event loop (a line for each that failed): a
    // handful each, so that the window answers between them however slow each try is.
    std::size_t mostInATurn = 0, seen = errors.count();
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] {
        const std::size_t now = errors.count();
        mostInATurn = std::max(mostInATurn, now - seen);
        seen = now;
    });
    turn.start(0);
    LoopProbe probe;
    QTest::mouseClick(form.controls().Command10, Qt::LeftButton);  // ">>", over every entry
    const qint64 click = probe.sinceLastBeat();
    const std::size_t triedInTheClick = errors.count();
    // Round the folder, back to the one entry that plays.
    const bool back = QTest::qWaitFor(
        [&] { return form.state().TrackNumber == 1 && deck1.playState() == Deck::Playing; }, 60000);
    probe.stop();
    turn.stop();
    const qint64 longest = probe.longestGap();
    std::printf(
        "\">>\" over %d entries that do not start: the click took %lld ms, the longest "
        "event loop gap %lld ms, %lld ms in all\n",
        kJunk, static_cast<long long>(click), static_cast<long long>(longest),
        static_cast<long long>(probe.elapsed()));
    ASSERT_TRUE(back);
    EXPECT_LE(triedInTheClick, 16u);
    EXPECT_LE(mostInATurn, 16u);
    EXPECT_EQ(form.state().playerState, PlayerState::Playing);
    const auto lines = errors.taken();
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kJunk));  // one for each, as it was tried
    EXPECT_EQ(std::count(lines.begin(), lines.end(), PlaylistNavigation::kNothingPlayable), 0);
}

}  // namespace
