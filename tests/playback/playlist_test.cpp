#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "playback/music_listing.h"
#include "playback/playlist_navigation.h"
#include "playback/playlist_positions.h"
#include "shared/file_name_text.h"
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
    const struct {
        std::vector<std::string> names, sorted;
    } cases[] = {
        {{"10 song.mp3", "2 song.mp3", "b.mp3", "A.mp3", "a.mp3", "1 Song.MP3", "track 9.mp3",
          "Track 10.mp3"},
         {"1 Song.MP3", "2 song.mp3", "10 song.mp3", "A.mp3", "a.mp3", "b.mp3", "track 9.mp3",
          "Track 10.mp3"}},
        // Names that are not UTF-8 sort by what they show, then by their bytes.
        {{"b\xFC.mp3", "c.mp3", "b\xF6.mp3", "b\xC3\xB6.mp3", "a.mp3"},
         {"a.mp3", "b\xC3\xB6.mp3", "b\xF6.mp3", "b\xFC.mp3", "c.mp3"}},
        {{"b\xFC.mp3", "b\xF6.mp3", "b\xC3\xB6.mp3", "x.mp3"},
         {"b\xC3\xB6.mp3", "b\xF6.mp3", "b\xFC.mp3", "x.mp3"}},
        {{"a.mp3", "A.mp3"}, {"A.mp3", "a.mp3"}},
        {{"one.mp3"}, {"one.mp3"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> names = c.names;
        sortNaturally(names);
        EXPECT_EQ(names, c.sorted);
        // The one-pass first agrees with the sort, whatever order the directory gives.
        for (size_t turn = 0; turn < names.size(); ++turn) {
            std::rotate(names.begin(), names.begin() + 1, names.end());
            EXPECT_EQ(names[naturalFirst(names)], c.sorted.front()) << names.front();
        }
    }
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
    auto names = readMp3Names(dir.path().toStdString() + "/", error);
    EXPECT_EQ(error, "");
    sortNaturally(names);
    const std::vector<std::string> expected = {".mp3", "A.MP3", "b.mp3", "c.Mp3", "link.mp3"};
    EXPECT_EQ(names, expected);

    EXPECT_TRUE(readMp3Names(dir.filePath("missing/").toStdString(), error).empty());
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

// A name that is not valid UTF-8 (Latin-1 "b\xF6.mp3") must reach the decks as the same bytes
// whichever way it is reached, while the list and the caption show it readably.
TEST_F(Playlist, NamesThatAreNotUtf8ReachTheDecksByteForByte) {
    const std::string latin = "b\xF6.mp3";
    const std::string dir = makeFiles("bytes", {"a.mp3", "c.mp3"});
    QFile(QString::fromStdString(dir + "a.mp3")).copy(QString::fromStdString(dir) + "x");
    ASSERT_EQ(std::rename((dir + "x").c_str(), (dir + latin).c_str()), 0);
    playDir(dir + "a.mp3");
    ASSERT_EQ(ui().List4->count(), 3);
    EXPECT_EQ(ui().List4->item(1)->text(), QString::fromUtf8("b\uFFFD.mp3"));

    enum Way { Forward, Back, NextFileStep, DoubleClick, DeckTwoPlay };
    struct Step {
        Way way;
        int fromTrack;
        const char* deck;  // which deck receives the name
        std::string name;
    } steps[] = {
        {Forward, 1, "deck1", latin},      {Forward, 2, "deck1", "c.mp3"},
        {Back, 3, "deck1", latin},         {Back, 2, "deck1", "a.mp3"},
        {NextFileStep, 1, "deck1", latin}, {DoubleClick, 1, "deck2", latin},
        {DeckTwoPlay, 1, "deck2", latin},
    };
    for (const auto& s : steps) {
        state().TrackNumber = s.fromTrack;
        state().NextDeck = 2;
        deck1.calls.clear();
        deck2.calls.clear();
        deck2.state = Deck::Stopped;
        switch (s.way) {
            case Forward:
                click(ui().Command10);
                break;
            case Back:
                click(ui().Command11);
                break;
            case NextFileStep:
                form->PlayTheNextFile();
                break;
            case DoubleClick:
                doubleClick(1);
                break;
            case DeckTwoPlay:
                click(ui().Command13);
                break;
        }
        const FakeDeck& target = std::string(s.deck) == "deck1" ? deck1 : deck2;
        const std::vector<std::string> calls = target.transport();
        EXPECT_NE(std::find(calls.begin(), calls.end(), "setFileName " + dir + s.name), calls.end())
            << "step " << int(s.way);
        if (s.way != DeckTwoPlay) {
            EXPECT_EQ(form->windowTitle(), "Velmor´s MP3-Player - " + fileNameText(s.name));
        }
    }
    EXPECT_EQ(text(ui().Label11), "b\uFFFD.mp3");
}

// A directory whose name is not UTF-8 is listed, played, saved as "Data-Path" and comes back as
// the next run's start directory, byte for byte.
TEST_F(Playlist, DirectoryThatIsNotUtf8SurvivesARestart) {
    const std::string music = dir.path().toStdString() + "/m\xFCsik/";
    ASSERT_TRUE(std::filesystem::create_directory(music));
    std::FILE* f = std::fopen((music + "one.mp3").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    playDir(music + "one.mp3");
    EXPECT_EQ(state().PlaylistDir, music);
    EXPECT_EQ(deck1.calls, (std::vector<std::string>{"setFileName " + music + "one.mp3", "play"}));

    form->Form_Unload();
    form.reset();
    make();
    form->Form_Activate();
    EXPECT_EQ(state().DataPath, music);
    playDir("");
    EXPECT_EQ(playDirDialog.initDirs.back(), music);
}

// ">>" and "<<" over a long run of entries that do not start never hold the window for a pass:
// the click and then each tick try a few entries at most, an entry whose open has not answered
// is judged at a later tick (the deck never waits for it), and a pass that finds nothing ends
// in one line.
TEST_F(Playlist, SkipsOverManyEntriesThatDoNotStartSpreadOverTicks) {
    constexpr int kEntries = 300;
    const std::string many = dir.path().toStdString() + "/many/";
    std::filesystem::create_directory(many);
    const auto name = [&](int track) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d.mp3", track);
        return many + text;
    };
    for (int track = 1; track <= kEntries; ++track) std::ofstream{name(track)};
    playDir(name(1));
    ASSERT_EQ(state().TrackCount, kEntries);

    struct Case {
        const char* what;
        QPushButton* Form1Controls::*button;
        int fromTrack;
        int good;            // the one entry that starts; 0: none
        int opensAfterAsks;  // how slowly the deck learns whether an entry opens
    } cases[] = {
        {"all junk", &Form1Controls::Command10, 1, 0, 0},
        {"junk, then a good file", &Form1Controls::Command10, 1, 250, 0},
        {"the good file reached by wrapping round", &Form1Controls::Command10, 120, 100, 0},
        {"back, over a slow disk", &Form1Controls::Command11, 250, 200, 2},
        {"all junk, over a slow disk", &Form1Controls::Command11, 1, 0, 3},
    };
    for (const auto& c : cases) {
        deck1.unplayable.clear();
        for (int track = 1; track <= kEntries; ++track)
            if (track != c.good) deck1.unplayable.push_back(name(track));
        deck1.opensAfterAsks = c.opensAfterAsks;
        deck1.length = 100;
        deck1.state = Deck::Playing;
        state().TrackNumber = c.fromTrack;
        state().playerState = S::Playing;
        deck1.calls.clear();
        const size_t linesBefore = errors.taken().size();
        deck1.openWaits.clear();
        const auto setsSoFar = [&] {
            return std::count_if(deck1.calls.begin(), deck1.calls.end(), [](const auto& call) {
                return call.rfind("setFileName ", 0) == 0;
            });
        };

        click(ui().*c.button);
        long most = setsSoFar();
        for (int idle = 0, ticks = 0; idle < 5 && ticks < 5 * kEntries; ++ticks) {
            const long before = setsSoFar();
            form->Timer1_Timer();
            const long now = setsSoFar();
            most = std::max(most, now - before);
            idle = now == before ? idle + 1 : 0;
        }
        EXPECT_LE(most, 16) << c.what;  // entries tried within one call of the window's thread
        const bool back = c.button == &Form1Controls::Command11;
        const int distance =
            c.good == 0
                ? kEntries
                : ((back ? c.fromTrack - c.good : c.good - c.fromTrack) + kEntries) % kEntries;
        EXPECT_EQ(setsSoFar(), distance) << c.what;
        if (c.good == 0) {
            EXPECT_EQ(state().playerState, S::Stopped) << c.what;
            ASSERT_EQ(errors.taken().size() - linesBefore, 1u) << c.what;
            EXPECT_EQ(errors.taken().back(), PlaylistNavigation::kNothingPlayable);
        } else {
            EXPECT_EQ(state().playerState, S::Playing) << c.what;
            EXPECT_EQ(state().TrackNumber, c.good) << c.what;
            EXPECT_EQ(deck1.loaded, name(c.good)) << c.what;
            EXPECT_EQ(deck1.state, Deck::Playing) << c.what;
            EXPECT_EQ(errors.taken().size(), linesBefore) << c.what;
        }
        // Every entry the skip set, it waited for briefly at most.
        EXPECT_EQ(static_cast<long>(deck1.openWaits.size()), setsSoFar()) << c.what;
        for (const auto limit : deck1.openWaits)
            EXPECT_LE(limit, std::chrono::milliseconds(50)) << c.what;
    }
}

// A skip under way gives way to the next command: stop ends it where it stood.
TEST_F(Playlist, AStopEndsASkipUnderWay) {
    const std::string list = makeFiles("slow", {"1.mp3", "2.mp3", "3.mp3", "4.mp3"});
    playDir(list + "1.mp3");
    deck1.unplayable = {list + "2.mp3", list + "3.mp3"};
    deck1.opensAfterAsks = 3;  // each entry answers a few looks later
    click(ui().Command10);
    EXPECT_EQ(state().TrackNumber, 2);
    form->Timer1_Timer();
    click(ui().Command3);  // stop
    deck1.calls.clear();
    for (int tick = 0; tick < 20; ++tick) form->Timer1_Timer();
    EXPECT_EQ(state().playerState, S::Stopped);
    EXPECT_TRUE(deck1.transport().empty()) << deck1.transport()[0];
    EXPECT_TRUE(errors.taken().empty());
}

// ">>" and "<<" that land on an entry that fails to start go on the same way to one that
// starts; a whole pass without one stops with one line.
TEST_F(Playlist, SkipsGetPastEntriesThatDoNotStart) {
    const std::string list = makeFiles("broken", {"1.mp3", "2.mp3", "3.mp3"});
    struct Case {
        int fromTrack;
        QPushButton* Form1Controls::*button;
        std::vector<std::string> broken;
        std::vector<int> tried;  // tracks set on deck 1, in order
        S after;
    } cases[] = {
        {3, &Form1Controls::Command11, {"2"}, {2, 1}, S::Playing},
        {1, &Form1Controls::Command10, {"2"}, {2, 3}, S::Playing},
        {1, &Form1Controls::Command11, {"3"}, {3, 2}, S::Playing},
        {3, &Form1Controls::Command10, {"1", "2"}, {1, 2, 3}, S::Playing},
        {1, &Form1Controls::Command10, {"1", "2", "3"}, {2, 3, 1}, S::Stopped},
        {2, &Form1Controls::Command10, {}, {3}, S::Playing},
    };
    playDir(list + "1.mp3");
    for (const auto& c : cases) {
        deck1.unplayable.clear();
        for (const auto& b : c.broken) deck1.unplayable.push_back(list + b + ".mp3");
        state().TrackNumber = c.fromTrack;
        deck1.calls.clear();
        const size_t linesBefore = errors.taken().size();
        click(ui().*c.button);
        std::vector<int> tried;
        for (const auto& call : deck1.calls)
            if (call.rfind("setFileName ", 0) == 0) tried.push_back(call[call.size() - 5] - '0');
        EXPECT_EQ(tried, c.tried) << c.fromTrack;
        EXPECT_EQ(state().playerState, c.after) << c.fromTrack;
        EXPECT_EQ(state().TrackNumber, c.tried.back());
        EXPECT_EQ(errors.taken().size() - linesBefore, c.after == S::Stopped ? 1u : 0u);

        // The watch leaves the result alone: no way back to the broken entry.
        deck1.calls.clear();
        form->Timer1_Timer();
        EXPECT_TRUE(deck1.transport().empty()) << c.fromTrack;
    }
}
