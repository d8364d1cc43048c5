#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "playback/music_listing.h"
#include "playback/playlist_positions.h"
#include "support/form1_fixture.h"

namespace {
using S = PlayerState;

std::vector<std::string> entries(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}
}  // namespace

TEST(PlaylistPositions, WrapAroundAtBothEnds) {
    struct Case {
        int track, count, next, previous;
    } cases[] = {{1, 3, 2, 3}, {2, 3, 3, 1}, {3, 3, 1, 2}, {1, 1, 1, 1}, {40000, 40000, 1, 39999}};
    for (const auto& c : cases) {
        EXPECT_EQ(nextPosition(c.track, c.count), c.next) << c.track << "/" << c.count;
        EXPECT_EQ(previousPosition(c.track, c.count), c.previous) << c.track << "/" << c.count;
    }
}

TEST(MusicListing, NaturalCaseInsensitiveOrder) {
    std::vector<std::string> names = {"10 song.mp3", "2 song.mp3", "b.mp3",       "A.mp3",
                                      "a.mp3",       "1 Song.MP3", "track 9.mp3", "Track 10.mp3"};
    sortNaturally(names);
    const std::vector<std::string> expected = {"1 Song.MP3",  "2 song.mp3",  "10 song.mp3",
                                               "A.mp3",       "a.mp3",       "b.mp3",
                                               "track 9.mp3", "Track 10.mp3"};
    EXPECT_EQ(names, expected);
}

TEST(MusicListing, TakesRegularMp3FilesInAnyCase) {
    QTemporaryDir dir;
    for (const char* name : {"b.mp3", "A.MP3", "c.Mp3", "notes.txt", "mp3", "x.mp3.bak", ".mp3"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    QDir(dir.path()).mkdir("folder.mp3");
    std::filesystem::create_symlink(dir.filePath("b.mp3").toStdString(),
                                    dir.filePath("link.mp3").toStdString());
    std::filesystem::create_symlink("/nonexistent/x.mp3",
                                    dir.filePath("dangling.mp3").toStdString());
    std::string error;
    const auto names = listMp3Files(dir.path().toStdString() + "/", error);
    EXPECT_EQ(error, "");
    const std::vector<std::string> expected = {".mp3", "A.MP3", "b.mp3", "c.Mp3", "link.mp3"};
    EXPECT_EQ(names, expected);

    listMp3Files(dir.filePath("missing/").toStdString(), error);
    EXPECT_NE(error.find("missing"), std::string::npos);
}

class Playlist : public Form1Fixture {
protected:
    std::string music;
    void SetUp() override {
        make();
        form->show();  // double-clicks need a laid-out list
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        music = makeFiles("music", {"10 c.mp3", "2 b.mp3", "1 a.mp3", "cover.jpg"});
    }
    void click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    void playDir(const std::string& chosen) {
        playDirDialog.answer = chosen;
        click(ui().Command6);
    }
    void doubleClick(int row) {
        ui().List4->setCurrentRow(row);
        const QRect r = ui().List4->visualItemRect(ui().List4->item(row));
        // An item view takes a double-click only after a press on the same item.
        QTest::mouseClick(ui().List4->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(ui().List4->viewport(), Qt::LeftButton, {}, r.center());
    }
};

TEST_F(Playlist, PlayDirBuildsTheListAndStartsTheFirstEntry) {
    state().DataPath = "/start/here/";
    playDir(music + "cover.jpg");
    EXPECT_EQ(playDirDialog.initDirs, std::vector<std::string>{"/start/here/"});
    EXPECT_EQ(entries(ui().List4), (std::vector<std::string>{"1 a.mp3", "2 b.mp3", "10 c.mp3"}));
    EXPECT_EQ(state().PlaylistDir, music);
    EXPECT_EQ(state().DataPath, music);
    EXPECT_EQ(state().TrackNumber, 1);
    EXPECT_EQ(state().TrackCount, 3);
    EXPECT_EQ(state().CurrentFile, "1 a.mp3");
    EXPECT_EQ(ui().List4->currentRow(), 0);
    EXPECT_EQ(deck1.calls, (std::vector<std::string>{"setFileName " + music + "1 a.mp3", "play"}));
    EXPECT_EQ(state().playerState, S::Playing);
    EXPECT_EQ(state().NextDeck, 2);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Velmor´s MP3-Player - 1 a.mp3"));

    // A smaller directory replaces the list whole; the next dialog opens where this one chose.
    const std::string other = makeFiles("other", {"z.mp3"});
    playDir(other + "z.mp3");
    EXPECT_EQ(entries(ui().List4), std::vector<std::string>{"z.mp3"});
    EXPECT_EQ(playDirDialog.initDirs.back(), music);
}

TEST_F(Playlist, CancelledDialogsChangeLittle) {
    playDir(music + "1 a.mp3");
    deck1.calls.clear();
    playDir("");
    EXPECT_EQ(state().TrackCount, 3);
    EXPECT_EQ(state().CurrentFile, "1 a.mp3");

    playFileDialog.answer = "";
    click(ui().Command2);
    EXPECT_EQ(state().CurrentFile, "");
    EXPECT_TRUE(deck1.calls.empty());
    click(ui().Command10);  // ">>" does nothing without a current file
    click(ui().Command1);   // neither does "Play" once stopped
    EXPECT_TRUE(deck1.transport().empty());
}

TEST_F(Playlist, EmptyDirectoryEmptiesThePlaylistAndSaysSo) {
    playDir(music + "1 a.mp3");
    deck1.calls.clear();
    const std::string empty = makeFiles("empty", {"readme.txt"});
    playDir(empty + "readme.txt");
    EXPECT_EQ(ui().List4->count(), 0);
    EXPECT_EQ(state().TrackNumber, 0);
    EXPECT_EQ(state().TrackCount, 0);
    EXPECT_EQ(state().CurrentFile, "");
    EXPECT_EQ(state().PlaylistDir, empty);
    EXPECT_EQ(state().DataPath, empty);
    EXPECT_TRUE(deck1.calls.empty());
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_NE(errors.taken()[0].find("No MP3 file"), std::string::npos);

    // Nothing to walk: the buttons and the next-file step do nothing, the watch stops.
    state().CurrentFile = "/x/y.mp3";
    click(ui().Command10);
    click(ui().Command11);
    form->PlayTheNextFile();
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_EQ(state().playerState, S::Stopped);
}

TEST_F(Playlist, PlayFilePlaysOneFileAndLeavesThePlaylist) {
    playDir(music + "1 a.mp3");
    state().playerState = S::Stopped;
    deck1.calls.clear();
    playFileDialog.answer = "/elsewhere/solo.mp3";
    click(ui().Command2);
    EXPECT_EQ(deck1.calls, (std::vector<std::string>{"setFileName /elsewhere/solo.mp3", "play"}));
    EXPECT_EQ(state().CurrentFile, "/elsewhere/solo.mp3");
    EXPECT_EQ(state().playerState, S::Stopped);
    EXPECT_EQ(state().PlaylistDir, music);
    EXPECT_EQ(state().TrackNumber, 1);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Velmor´s MP3-Player - /elsewhere/solo.mp3"));
    click(ui().Command4);  // "II" has no effect while the word says "Stopped"
    EXPECT_EQ(deck1.calls.back(), "play");

    // ">>" goes on in the playlist's own directory.
    click(ui().Command10);
    EXPECT_EQ(deck1.calls[deck1.calls.size() - 2], "setFileName " + music + "2 b.mp3");
}

TEST_F(Playlist, NavigationWrapsAndHandsFullPaths) {
    playDir(music + "1 a.mp3");
    struct Step {
        QPushButton* Form1Controls::*button;
        int track;
        const char* entry;
    } steps[] = {
        {&Form1Controls::Command11, 3, "10 c.mp3"}, {&Form1Controls::Command10, 1, "1 a.mp3"},
        {&Form1Controls::Command10, 2, "2 b.mp3"},  {&Form1Controls::Command10, 3, "10 c.mp3"},
        {&Form1Controls::Command10, 1, "1 a.mp3"},
    };
    for (const auto& s : steps) {
        deck1.calls.clear();
        state().playerState = S::Stopped;
        click(ui().*s.button);
        EXPECT_EQ(state().TrackNumber, s.track);
        EXPECT_EQ(state().CurrentFile, s.entry);
        EXPECT_EQ(ui().List4->currentRow(), s.track - 1);
        EXPECT_EQ(deck1.calls,
                  (std::vector<std::string>{"stop", "setFileName " + music + s.entry, "play"}));
        EXPECT_EQ(state().playerState, S::Playing);
    }
    deck1.calls.clear();
    click(ui().Command7);
    click(ui().Command5);
    EXPECT_EQ(deck1.calls, (std::vector<std::string>{"stepForward", "stepBack"}));
    EXPECT_EQ(state().TrackNumber, 1);
}

TEST_F(Playlist, DoubleClicksLoadTheDecksByTurns) {
    playDir(music + "1 a.mp3");
    deck1.calls.clear();

    doubleClick(1);  // NextDeck 2 and deck 2 idle: deck 2 gets it
    EXPECT_EQ(deck2.transport(),
              (std::vector<std::string>{"setFileName " + music + "2 b.mp3", "play"}));
    EXPECT_EQ(state().NextDeck, 1);
    EXPECT_EQ(state().CurrentFile, "2 b.mp3");
    EXPECT_EQ(state().Deck2File, "2 b.mp3");
    EXPECT_EQ(state().TrackNumber, 2);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Velmor´s MP3-Player - 2 b.mp3"));
    EXPECT_EQ(text(ui().Label11), "2 b.mp3");

    doubleClick(2);  // deck 1's turn
    EXPECT_EQ(deck1.transport(),
              (std::vector<std::string>{"stop", "setFileName " + music + "10 c.mp3", "play"}));
    EXPECT_EQ(state().NextDeck, 2);
    EXPECT_EQ(state().playerState, S::Playing);  // as "Play Dir" left it

    deck2.calls.clear();
    doubleClick(0);  // deck 2 plays: stopped first, then loaded
    EXPECT_EQ(deck2.transport(),
              (std::vector<std::string>{"stop", "setFileName " + music + "1 a.mp3", "play"}));

    deck2.calls.clear();
    deck2.state = Deck::Paused;
    state().NextDeck = 2;
    doubleClick(1);  // a paused deck 2 loads nothing, yet the entry becomes current
    EXPECT_TRUE(deck2.transport().empty());
    EXPECT_EQ(state().NextDeck, 2);
    EXPECT_EQ(state().CurrentFile, "2 b.mp3");
    EXPECT_EQ(state().TrackNumber, 2);
}

TEST_F(Playlist, DoubleClickWithoutSelectionDoesNothing) {
    playDir(music + "1 a.mp3");
    ui().List4->clearSelection();
    ui().List4->setCurrentRow(-1);
    deck1.calls.clear();
    form->findChild<QListWidget*>("List4");
    emit ui().List4->itemDoubleClicked(nullptr);
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_TRUE(deck2.calls.empty());
    EXPECT_EQ(state().TrackNumber, 1);
}

TEST_F(Playlist, DeckTwoButtonsShareTheTransportWord) {
    click(ui().Command13);  // nothing double-clicked yet
    EXPECT_TRUE(deck2.calls.empty());

    playDir(music + "1 a.mp3");
    doubleClick(1);
    state().NextDeck = 2;
    deck2.calls.clear();
    deck2.state = Deck::Stopped;
    state().playerState = S::Stopped;
    click(ui().Command13);
    EXPECT_EQ(deck2.transport(),
              (std::vector<std::string>{"setFileName " + music + "2 b.mp3", "play"}));
    EXPECT_EQ(state().playerState, S::Playing);
    EXPECT_EQ(state().NextDeck, 1);

    struct Case {
        S before;
        int deck1State;
        QPushButton* Form1Controls::*button;
        S after;
        int nextDeckAfter;
        std::vector<std::string> deck2Calls;
    } cases[] = {
        {S::Playing, 2, &Form1Controls::Command15, S::Paused, 1, {"pause"}},
        {S::Paused, 2, &Form1Controls::Command15, S::Playing, 1, {"play"}},
        {S::Stopped, 2, &Form1Controls::Command15, S::Stopped, 1, {}},
        {S::Playing, 2, &Form1Controls::Command14, S::Playing, 2, {"stop"}},
        {S::Playing, 0, &Form1Controls::Command14, S::Playing, 1, {"stop"}},
    };
    for (const auto& c : cases) {
        deck2.calls.clear();
        deck2.state = Deck::Playing;
        deck1.state = c.deck1State;
        state().playerState = c.before;
        state().NextDeck = 1;
        const QString label = ui().Label14->text();
        click(ui().*c.button);
        EXPECT_EQ(state().playerState, c.after);
        EXPECT_EQ(state().NextDeck, c.nextDeckAfter);
        EXPECT_EQ(deck2.transport(), c.deck2Calls);
        EXPECT_EQ(ui().Label14->text(), label);  // no refresh
    }
}

TEST_F(Playlist, MoreThan32767EntriesPlayOn) {
    const QString path = dir.filePath("big");
    QDir().mkpath(path);
    constexpr int kCount = 33000;
    for (int i = 1; i <= kCount; ++i)
        QFile(path + QString("/%1.mp3").arg(i)).open(QIODevice::WriteOnly);
    playDir(path.toStdString() + "/1.mp3");
    ASSERT_EQ(state().TrackCount, kCount);
    EXPECT_EQ(ui().List4->item(kCount - 1)->text(), "33000.mp3");  // natural order

    click(ui().Command11);  // before the first: the last
    EXPECT_EQ(state().TrackNumber, kCount);
    EXPECT_EQ(state().CurrentFile, "33000.mp3");
    click(ui().Command10);  // after the last: the first
    EXPECT_EQ(state().TrackNumber, 1);
}
