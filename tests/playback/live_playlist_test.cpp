// Deck 1's playlist follows its folder: files added, removed or renamed there take their sorted
// places while the current entry, the selection and deck 1's place stay on their files.
#include "playback/live_playlist.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>

#include "playback/playlist_merge.h"
#include "playback/playlist_positions.h"
#include "playback/relist_schedule.h"
#include "support/form1_fixture.h"
#include "support/scoped_env.h"
#include "support/serving_process.h"
#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;

// The entry the next-file step would load; "" when there is none.
std::string nextEntry(const PlaylistPlace& place) {
    if (place.entries.empty()) return {};
    return place.entries[size_t(nextPosition(place.trackNumber, int(place.entries.size())) - 1)];
}

// "b|d|f": names; "d>c|c>x": renames.
Names split(const std::string& text) {
    Names names;
    for (size_t from = 0; from < text.size();) {
        const size_t bar = std::min(text.find('|', from), text.size());
        names.push_back(text.substr(from, bar - from));
        from = bar + 1;
    }
    return names;
}
std::vector<FolderRename> renamesOf(const std::string& text) {
    std::vector<FolderRename> renames;
    for (const std::string& rename : split(text))
        renames.push_back(
            {rename.substr(0, rename.find('>')), rename.substr(rename.find('>') + 1)});
    return renames;
}

}  // namespace

TEST(PlaylistMerge, CurrentEntryAndSelectionStayOnTheirFiles) {
    const struct Case {
        const char* what;
        const char* entries;
        int track;
        const char* current;
        int selected;
        const char* listing;
        const char* renames;
        int trackAfter;
        const char* currentAfter;
        int selectedAfter;
        const char* next;
    } cases[] = {
        {"add before the current", "b|d|f", 2, "d", 1, "a|b|d|f", "", 3, "d", 2, "f"},
        {"add after the current", "b|d|f", 2, "d", 1, "b|d|e|f", "", 2, "d", 1, "e"},
        {"remove before the current", "b|d|f", 2, "d", 1, "d|f", "", 1, "d", 0, "f"},
        {"remove after the current", "b|d|f", 2, "d", 1, "b|d", "", 2, "d", 1, "b"},
        {"remove the current: its follower next", "b|d|f", 2, "d", 1, "b|f", "", 1, "d", -1, "f"},
        {"remove the first, current", "b|d|f", 1, "b", 0, "d|f", "", 0, "b", -1, "d"},
        {"remove the last, current: wraps", "b|d|f", 3, "f", 2, "b|d", "", 2, "f", -1, "b"},
        {"added where a removed current stood", "b|f", 1, "d", -1, "b|e|f", "", 1, "d", -1, "e"},
        {"a removed current's name is back", "b|f", 1, "d", -1, "b|d|f", "", 2, "d", -1, "f"},
        {"rename another, selected", "b|d|f", 2, "d", 0, "d|f|g", "b>g", 1, "d", 2, "f"},
        {"rename the current", "b|d|f", 2, "d", 1, "a|b|f", "d>a", 1, "a", 0, "b"},
        {"rename the current twice", "b|d|f", 2, "d", 1, "b|f|x", "d>c|c>x", 3, "x", 2, "b"},
        {"rename it, a new file takes the name", "b|d|f", 2, "d", 1, "b|d|f|g", "d>g", 4, "g", 3,
         "b"},
        {"rename it out of the playlist", "b|d|f", 2, "d", 1, "b|f", "d>d.bak", 1, "d", -1, "f"},
        {"the folder is empty now", "b|d|f", 2, "d", 1, "", "", 0, "d", -1, ""},
        {"a playlist of one grows", "d", 1, "d", 0, "c|d", "", 2, "d", 1, "c"},
        {"a playlist of one loses it", "d", 1, "d", 0, "", "", 0, "d", -1, ""},
        {"an empty folder fills: first is next", "", 0, "", -1, "a|b", "", 0, "", -1, "a"},
        {"natural order", "1 x|2 x|3 x|10 x", 3, "3 x", 2, "1 x|2 x|10 x", "", 2, "3 x", -1,
         "10 x"},
    };
    for (const auto& c : cases) {
        const PlaylistPlace before{split(c.entries), c.track, c.current, c.selected};
        const PlaylistPlace after = mergeListing(before, split(c.listing), renamesOf(c.renames));
        EXPECT_EQ(after.entries, split(c.listing)) << c.what;
        EXPECT_EQ(after.trackNumber, c.trackAfter) << c.what;
        EXPECT_EQ(after.currentFile, c.currentAfter) << c.what;
        EXPECT_EQ(after.selectedRow, c.selectedAfter) << c.what;
        EXPECT_EQ(nextEntry(after), c.next) << c.what;
    }
}

// The listings a watch would begin for changes at `changesUs` (µs), each listing taking
// `listingUs`: a change that comes during a listing is read once it is over.
std::vector<long> listingStarts(const std::vector<long>& changesUs, long listingUs) {
    using std::chrono::microseconds;
    const RelistSchedule::Clock::time_point zero{};
    RelistSchedule schedule;
    std::vector<long> starts;
    long busyUntil = 0;
    for (size_t next = 0;;) {
        const auto due = schedule.due();
        const long dueUs = due ? long(std::chrono::duration_cast<microseconds>(*due - zero).count())
                               : std::numeric_limits<long>::max();
        const long changeUs =
            next < changesUs.size() ? std::max(changesUs[next], busyUntil) : dueUs;
        if (!due && next == changesUs.size()) return starts;
        if (next < changesUs.size() && changeUs < dueUs) {
            schedule.changed(zero + microseconds(changeUs));
            ++next;
        } else {
            starts.push_back(dueUs);
            schedule.listingBegins();
            busyUntil = dueUs + listingUs;
        }
    }
}

TEST(RelistSchedule, BurstsAreOneListingAndAStreamStillShows) {
    const auto every = [](long stepUs, long count) {
        std::vector<long> changes;
        for (long i = 0; i < count; ++i) changes.push_back(i * stepUs);
        return changes;
    };
    const struct Case {
        const char* what;
        std::vector<long> changes;
        long listing;
        std::vector<long> starts;
    } cases[] = {
        {"one change", {0}, 1000, {400'000}},
        {"two changes apart", {0, 5'000'000}, 1000, {400'000, 5'400'000}},
        {"a change during a listing asks one more", {0, 450'000}, 200'000, {400'000, 1'000'000}},
        {"a few changes that never rest are listed every 1.5 s or so",
         every(300'000, 21),
         1000,
         {1'500'000, 3'001'000, 4'800'000, 6'301'000}},
        {"10 000 files at once", every(20, 10'000), 1000, {1'199'980}},
        {"10 000 files over 8 s", every(800, 10'000), 1000, {8'999'200}},
        {"a burst that never rests is listed every 30 s",
         every(10'000, 7'000),
         1000,
         {30'000'000, 60'001'000, 70'990'000}},
    };
    for (const auto& c : cases) EXPECT_EQ(listingStarts(c.changes, c.listing), c.starts) << c.what;
}

namespace {

std::vector<std::string> shown(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}

void create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ::close(fd);
}

}  // namespace

class LivePlaylistWindow : public Form1Fixture {
protected:
    // Generous: a guard against hanging, not a measure.
    static constexpr int kGuardMs = 30000;

    void SetUp() override {
        make();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void playDir(const std::string& chosen) {
        playDirDialog.answer = chosen;
        QTest::mouseClick(ui().Command6, Qt::LeftButton);
    }
    const FolderWatch& watch() const { return form->livePlaylist().watch(); }
    // The first listing, which the watch makes as it starts, has come and gone.
    bool followed() {
        return serveUntil([&] { return watch().listings() >= 1; }, kGuardMs);
    }
    bool shows(const Names& names) {
        return serveUntil([&] { return shown(ui().List4) == names; }, kGuardMs);
    }
};

TEST_F(LivePlaylistWindow, AddedRemovedAndRenamedFilesTakeTheirPlaces) {
    const std::string music = makeFiles("music", {"4 d.mp3", "2 b.mp3", "6 f.mp3", "cover.jpg"});
    playDir(music + "cover.jpg");
    ASSERT_TRUE(followed());
    deck1.calls.clear();
    deck1.state = Deck::Playing;

    // Added: the current entry and the selection move with their file.
    const auto copied = std::chrono::steady_clock::now();
    for (const char* name : {"7 g.mp3", "1 a.mp3", "3 c.mp3", "notes.txt"}) create(music + name);
    ASSERT_TRUE(shows({"1 a.mp3", "2 b.mp3", "3 c.mp3", "4 d.mp3", "6 f.mp3", "7 g.mp3"}));
    std::printf("3 files shown %lld ms after they were made\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - copied)
                                           .count()));
    EXPECT_EQ(state().CurrentFile, "2 b.mp3");
    EXPECT_EQ(state().TrackNumber, 2);
    EXPECT_EQ(state().TrackCount, 6);
    EXPECT_EQ(ui().List4->currentRow(), 1);
    EXPECT_TRUE(deck1.transport().empty());

    // The playing file removed: it plays on, out of the list, and its follower comes next.
    ASSERT_EQ(std::remove((music + "2 b.mp3").c_str()), 0);
    ASSERT_TRUE(shows({"1 a.mp3", "3 c.mp3", "4 d.mp3", "6 f.mp3", "7 g.mp3"}));
    EXPECT_EQ(state().CurrentFile, "2 b.mp3");
    EXPECT_EQ(state().TrackCount, 5);
    EXPECT_EQ(ui().List4->currentRow(), -1);
    EXPECT_TRUE(deck1.transport().empty());
    deck1.state = Deck::Stopped;  // its last sample played
    form->Timer1_Timer();
    EXPECT_EQ(deck1.transport(),
              (std::vector<std::string>{"setFileName " + music + "3 c.mp3", "play"}));
    EXPECT_EQ(state().TrackNumber, 2);
    EXPECT_EQ(ui().List4->currentRow(), 1);

    // The playing file renamed: it stays the current entry under its new name, in its new place.
    deck1.calls.clear();
    ASSERT_EQ(std::rename((music + "3 c.mp3").c_str(), (music + "9 z.mp3").c_str()), 0);
    ASSERT_TRUE(shows({"1 a.mp3", "4 d.mp3", "6 f.mp3", "7 g.mp3", "9 z.mp3"}));
    EXPECT_EQ(state().CurrentFile, "9 z.mp3");
    EXPECT_EQ(state().TrackNumber, 5);
    EXPECT_EQ(ui().List4->currentRow(), 4);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Velmor´s MP3-Player - 9 z.mp3"));
    EXPECT_TRUE(deck1.transport().empty());
    EXPECT_TRUE(errors.taken().empty());
}

TEST_F(LivePlaylistWindow, ABurstOfTenThousandFilesIsOneListing) {
    // In memory where the machine has it: the files come within a fraction of a second, as on a
    // desktop's disk, and the disk the other tests use is spared. The rule holds either way.
    std::optional<ScopedEnv> inMemory;
    if (std::filesystem::is_directory("/dev/shm")) inMemory.emplace("TMPDIR", "/dev/shm");
    const TempDir burst;
    inMemory.reset();
    const std::string music = burst.path() + "/";
    create(music + "00000 first.mp3");
    playDir(music + "00000 first.mp3");
    ASSERT_TRUE(followed());
    ASSERT_EQ(watch().listings(), 1);

    constexpr int kFiles = 10000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%05d.mp3", i);
        create(music + name);
    }
    const auto created = std::chrono::steady_clock::now();
    ASSERT_TRUE(serveUntil([&] { return ui().List4->count() == kFiles + 1; }, kGuardMs));
    const auto listed = std::chrono::steady_clock::now();
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    std::printf("%d files made in %lld ms, shown %lld ms after the last\n", kFiles,
                static_cast<long long>(duration_cast<milliseconds>(created - start).count()),
                static_cast<long long>(duration_cast<milliseconds>(listed - created).count()));
    EXPECT_EQ(watch().listings(), 2);
    EXPECT_EQ(state().CurrentFile, "00000 first.mp3");
    EXPECT_EQ(state().TrackNumber, 1);
    EXPECT_EQ(state().TrackCount, kFiles + 1);
}

// Near a track's end deck 1 has been cued the next entry: a change of which entry that is cues
// the new one, and a playlist emptied withdraws the cue.
TEST_F(LivePlaylistWindow, TheCueFollowsTheNextEntry) {
    const std::string music = makeFiles("cue", {"1.mp3", "3.mp3"});
    playDir(music + "1.mp3");
    ASSERT_TRUE(followed());
    deck1.length = 100;
    deck1.position = 98.5;
    form->Timer1_Timer();
    ASSERT_FALSE(deck1.cues.empty());
    EXPECT_EQ(deck1.cues.back(), music + "3.mp3");

    create(music + "2.mp3");
    ASSERT_TRUE(shows({"1.mp3", "2.mp3", "3.mp3"}));
    form->Timer1_Timer();
    EXPECT_EQ(deck1.cues.back(), music + "2.mp3");

    for (const char* name : {"1.mp3", "2.mp3", "3.mp3"})
        ASSERT_EQ(std::remove((music + name).c_str()), 0);
    ASSERT_TRUE(shows({}));
    EXPECT_EQ(deck1.cues.back(), "");
    form->Timer1_Timer();
    EXPECT_EQ(deck1.cues.back(), "");
    EXPECT_EQ(state().CurrentFile, "1.mp3");  // still sounding

    // Its end: nothing is left to play.
    deck1.state = Deck::Stopped;
    deck1.calls.clear();
    form->Timer1_Timer();
    EXPECT_TRUE(deck1.transport().empty());
    EXPECT_EQ(state().playerState, PlayerState::Stopped);
}

// The folder followed is the playlist's while it is deck 1's: a file played stops it, another
// folder moves it there.
TEST_F(LivePlaylistWindow, PlayFileStopsItAndPlayDirMovesIt) {
    const std::string first = makeFiles("first", {"a.mp3"});
    const std::string second = makeFiles("second", {"x.mp3"});
    playDir(first + "a.mp3");
    EXPECT_EQ(watch().folder(), first);

    playFileDialog.answer = second + "x.mp3";
    QTest::mouseClick(ui().Command2, Qt::LeftButton);
    EXPECT_EQ(watch().folder(), "");

    playDir(first + "a.mp3");
    EXPECT_EQ(watch().folder(), first);
    playDir(second + "x.mp3");
    EXPECT_EQ(watch().folder(), second);
    ASSERT_TRUE(followed());
    create(first + "b.mp3");
    create(second + "y.mp3");
    ASSERT_TRUE(shows({"x.mp3", "y.mp3"}));
    EXPECT_EQ(state().PlaylistDir, second);

    // A folder that gave nothing to play is followed too: what comes there is next.
    const std::string empty = makeFiles("empty", {});
    playDir(empty);
    ASSERT_TRUE(followed());
    deck1.calls.clear();
    create(empty + "new.mp3");
    ASSERT_TRUE(shows({"new.mp3"}));
    EXPECT_EQ(state().TrackCount, 1);
    deck1.state = Deck::Stopped;
    form->Timer1_Timer();
    EXPECT_EQ(deck1.transport(),
              (std::vector<std::string>{"setFileName " + empty + "new.mp3", "play"}));
}

// "<<" from an entry whose file was removed goes to the entry that stood before it.
TEST_F(LivePlaylistWindow, BackFromARemovedEntryIsTheOneBeforeIt) {
    const struct Case {
        int current;  // 1-based, among 1.mp3 ... 4.mp3
        std::vector<const char*> removed;
        std::string back;
    } cases[] = {
        {2, {"2.mp3"}, "1.mp3"},
        {1, {"1.mp3"}, "4.mp3"},
        {4, {"4.mp3"}, "3.mp3"},
        {3, {"2.mp3", "3.mp3"}, "1.mp3"},
    };
    int folder = 0;
    for (const auto& c : cases) {
        const std::string music =
            makeFiles("back" + std::to_string(++folder), {"1.mp3", "2.mp3", "3.mp3", "4.mp3"});
        playDir(music + "1.mp3");
        ASSERT_TRUE(followed());
        for (int track = 1; track < c.current; ++track)
            QTest::mouseClick(ui().Command10, Qt::LeftButton);
        ASSERT_EQ(state().TrackNumber, c.current);
        for (const char* name : c.removed) ASSERT_EQ(std::remove((music + name).c_str()), 0);
        ASSERT_TRUE(
            serveUntil([&] { return ui().List4->count() == 4 - int(c.removed.size()); }, kGuardMs));
        QTest::mouseClick(ui().Command11, Qt::LeftButton);
        EXPECT_EQ(deck1.loaded, music + c.back) << c.current;
        EXPECT_EQ(state().CurrentFile, c.back) << c.current;
    }
}

// A file added above the view does not move what the view shows.
TEST_F(LivePlaylistWindow, TheViewKeepsItsTopEntry) {
    const std::string music = makeFiles("view", {});
    for (int i = 10; i < 50; ++i) create(music + std::to_string(i) + ".mp3");
    playDir(music);
    ASSERT_TRUE(followed());
    QListWidget* list = ui().List4;
    list->scrollToItem(list->item(20), QAbstractItemView::PositionAtTop);
    ASSERT_EQ(list->itemAt(0, 0)->text(), "30.mp3");

    create(music + "5.mp3");
    ASSERT_TRUE(serveUntil([&] { return list->count() == 41; }, kGuardMs));
    EXPECT_EQ(list->itemAt(0, 0)->text(), "30.mp3");
    EXPECT_EQ(list->currentRow(), 1);  // "10.mp3", still playing
}

// ">>" trying entries walks them by number: a listing that comes meanwhile waits for it.
TEST_F(LivePlaylistWindow, AListingWaitsForASkipUnderWay) {
    const std::string music = makeFiles("skip", {"1.mp3", "3.mp3", "5.mp3"});
    playDir(music + "1.mp3");
    ASSERT_TRUE(followed());
    deck1.opensAfterAsks = 1'000'000;  // the entry the skip sets does not answer its open
    QTest::mouseClick(ui().Command10, Qt::LeftButton);
    ASSERT_EQ(state().TrackNumber, 2);

    create(music + "2.mp3");
    ASSERT_TRUE(serveUntil([&] { return watch().listings() == 2; }, kGuardMs));
    EXPECT_EQ(shown(ui().List4), (Names{"1.mp3", "3.mp3", "5.mp3"}));
    EXPECT_EQ(state().TrackNumber, 2);

    QTest::mouseClick(ui().Command3, Qt::LeftButton);  // "Stop" ends the skip
    ASSERT_TRUE(shows({"1.mp3", "2.mp3", "3.mp3", "5.mp3"}));
    EXPECT_EQ(state().CurrentFile, "3.mp3");
    EXPECT_EQ(state().TrackNumber, 3);
    EXPECT_EQ(ui().List4->currentRow(), 2);
}

// A folder deleted while it plays empties the playlist, with one line.
TEST_F(LivePlaylistWindow, AFolderDeletedEmptiesThePlaylist) {
    const std::string music = makeFiles("gone", {"a.mp3", "b.mp3"});
    playDir(music + "a.mp3");
    ASSERT_TRUE(followed());
    std::filesystem::remove_all(music);
    ASSERT_TRUE(shows({}));
    EXPECT_EQ(state().TrackCount, 0);
    EXPECT_EQ(state().CurrentFile, "a.mp3");
    ASSERT_TRUE(serveUntil([&] { return errors.count() == 1; }, kGuardMs));
    EXPECT_NE(errors.taken()[0].find("Cannot read the directory " + music), std::string::npos)
        << errors.taken()[0];
}
