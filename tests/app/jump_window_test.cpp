// "Jump to entry" on the real window with fake decks: opened by Ctrl+J, driven by keys only.
#include "app/jump_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "playback/playlist_items.h"
#include "support/form1_fixture.h"

namespace {

class JumpTest : public Form1Fixture {
protected:
    std::string music;

    void SetUp() override {
        make();
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void playDir(std::initializer_list<const char*> names, const char* sub = "music") {
        music = makeFiles(sub, names);
        playDirDialog.answer = music + *names.begin();
        QTest::mouseClick(ui().Command6, Qt::LeftButton);
    }
    JumpWindow& open() {
        QTest::sendKeyEvent(QTest::Click, form.get(), Qt::Key_J, 'j', Qt::ControlModifier);
        auto* window = form->findChild<JumpWindow*>();
        EXPECT_NE(window, nullptr);
        return *window;
    }
    QLineEdit* field() { return form->findChild<JumpWindow*>()->queryField(); }
    QListView* list() { return form->findChild<JumpWindow*>()->matchList(); }
    std::vector<std::string> rows() {
        std::vector<std::string> texts;
        const QAbstractItemModel* model = list()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            texts.push_back(model->index(row, 0).data().toString().toStdString());
        return texts;
    }
    std::string chosen() { return list()->currentIndex().data().toString().toStdString(); }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(field(), k, modifiers);
    }
    // Lets the event loop run until `condition` holds; a guard, not a measure.
    template <typename Condition>
    bool settles(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition() && std::chrono::steady_clock::now() < deadline) QTest::qWait(5);
        return condition();
    }
};

TEST_F(JumpTest, TypingNarrowsTheListAndReturnPlaysTheChoiceOnDeckOne) {
    playDir({"1 Alpha one.mp3", "2 Beta two.mp3", "3 Café three.mp3", "4 alpha four.mp3",
             "5 Gamma.mp3"});
    state().NextDeck = 1;
    deck1.calls.clear();
    JumpWindow& window = open();
    ASSERT_TRUE(window.isVisible());
    EXPECT_TRUE(settles([&] { return field()->hasFocus(); }));
    EXPECT_EQ(rows().size(), 5u);
    EXPECT_EQ(chosen(), "1 Alpha one.mp3");
    for (QWidget* widget : {static_cast<QWidget*>(field()), static_cast<QWidget*>(list())})
        EXPECT_FALSE(
            QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty());

    QTest::keyClicks(field(), "ALPHA");
    EXPECT_EQ(rows(), (std::vector<std::string>{"1 Alpha one.mp3", "4 alpha four.mp3"}));
    EXPECT_EQ(chosen(), "1 Alpha one.mp3");
    const struct {
        Qt::Key key;
        const char* chosen;
    } moves[] = {{Qt::Key_Down, "4 alpha four.mp3"},
                 {Qt::Key_Down, "4 alpha four.mp3"},  // the last stays
                 {Qt::Key_Up, "1 Alpha one.mp3"},
                 {Qt::Key_Up, "1 Alpha one.mp3"},
                 {Qt::Key_Down, "4 alpha four.mp3"}};
    for (const auto& move : moves) {
        key(move.key);
        EXPECT_EQ(chosen(), move.chosen);
        EXPECT_TRUE(field()->hasFocus());  // typing goes on where it was
    }
    EXPECT_EQ(field()->text(), "ALPHA");

    key(Qt::Key_Return);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(state().TrackNumber, 4);
    EXPECT_EQ(state().CurrentFile, "4 alpha four.mp3");
    EXPECT_EQ(ui().List4->currentRow(), 3);
    // As the automatic advance starts an entry: no stop first, the full path.
    EXPECT_EQ(deck1.transport(),
              (std::vector<std::string>{"setFileName " + music + "4 alpha four.mp3", "play"}));
    EXPECT_EQ(deck1.state, Deck::Playing);
    EXPECT_EQ(state().playerState, PlayerState::Playing);
    EXPECT_EQ(text(ui().Label19), "Playing");
    EXPECT_EQ(state().NextDeck, 1);
    EXPECT_TRUE(deck2.transport().empty());
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Velmor´s MP3-Player - 4 alpha four.mp3"));

    // Its end goes on after the chosen entry.
    deck1.state = Deck::Stopped;
    form->Timer1_Timer();
    EXPECT_EQ(state().CurrentFile, "5 Gamma.mp3");
}

TEST_F(JumpTest, ShiftReturnLoadsDeckTwoWhateverItIsDoing) {
    playDir({"1 a.mp3", "2 b.mp3", "3 c.mp3"});
    const struct {
        int deck2State;
        std::vector<std::string> deck2Calls;
    } cases[] = {
        {Deck::Stopped, {"setFileName " + music + "3 c.mp3", "play"}},
        {Deck::Playing, {"stop", "setFileName " + music + "3 c.mp3", "play"}},
        // Sent there on purpose, unlike a double-click's turn that passes it by.
        {Deck::Paused, {"stop", "setFileName " + music + "3 c.mp3", "play"}},
    };
    for (const auto& c : cases) {
        deck1.calls.clear();
        deck2.calls.clear();
        deck2.state = c.deck2State;
        state().NextDeck = 2;
        state().Deck2File.clear();
        JumpWindow& window = open();
        QTest::keyClicks(field(), "c");
        ASSERT_EQ(chosen(), "3 c.mp3");
        key(Qt::Key_Return, Qt::ShiftModifier);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(deck2.transport(), c.deck2Calls) << c.deck2State;
        EXPECT_EQ(deck2.state, Deck::Playing);
        EXPECT_EQ(state().Deck2File, "3 c.mp3");
        EXPECT_EQ(state().NextDeck, 1);
        EXPECT_EQ(text(ui().Label11), "3 c.mp3");
        // Deck 1 keeps its entry and plays on.
        EXPECT_TRUE(deck1.transport().empty());
        EXPECT_EQ(state().TrackNumber, 1);
        EXPECT_EQ(state().CurrentFile, "1 a.mp3");
        EXPECT_EQ(ui().List4->currentRow(), 0);
    }
    // Deck 2's own "Play" after a stop plays it again.
    deck2.calls.clear();
    QTest::mouseClick(ui().Command14, Qt::LeftButton);
    QTest::mouseClick(ui().Command13, Qt::LeftButton);
    EXPECT_EQ(deck2.transport(),
              (std::vector<std::string>{"stop", "setFileName " + music + "3 c.mp3", "play"}));
}

TEST_F(JumpTest, EscapeClosesAndNothingChosenPlaysNothing) {
    playDir({"1 a.mp3", "2 b.mp3"});
    deck1.calls.clear();
    JumpWindow& window = open();
    QTest::keyClicks(field(), "b zzz");
    EXPECT_TRUE(rows().empty());
    key(Qt::Key_Return);
    key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(window.isVisible());
    key(Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_TRUE(deck2.calls.empty());
    EXPECT_EQ(state().TrackNumber, 1);

    // Opened again: one window, the query gone; opened while open: raised, the query kept.
    open();
    EXPECT_EQ(form->findChildren<JumpWindow*>().size(), 1u);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(field()->text(), "");
    EXPECT_EQ(rows().size(), 2u);
    QTest::keyClicks(field(), "b");
    open();
    EXPECT_EQ(field()->text(), "b");
    EXPECT_EQ(rows(), std::vector<std::string>{"2 b.mp3"});
}

TEST_F(JumpTest, AnEmptyPlaylistOpensAnEmptyList) {
    JumpWindow& window = open();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(field()->placeholderText(), "The playlist is empty");
    QTest::keyClicks(field(), "a");
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_TRUE(deck2.calls.empty());
    EXPECT_EQ(state().TrackNumber, 0);
}

TEST_F(JumpTest, TheListFollowsANewPlaylistAndNeverPlaysAStaleRow) {
    playDir({"1 a.mp3", "2 ab.mp3"});
    open();
    QTest::keyClicks(field(), "a");
    key(Qt::Key_Down);
    ASSERT_EQ(chosen(), "2 ab.mp3");

    playDir({"x.mp3", "y a.mp3", "z.mp3"}, "other");
    deck1.calls.clear();
    // Return before the list has caught up: the new list shows, nothing plays.
    key(Qt::Key_Return);
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_EQ(rows(), std::vector<std::string>{"y a.mp3"});
    key(Qt::Key_Return);
    EXPECT_EQ(state().CurrentFile, "y a.mp3");
    EXPECT_EQ(state().TrackNumber, 2);

    // While open and untouched, it follows by itself.
    open();
    playDir({"k.mp3", "l.mp3"}, "third");
    EXPECT_TRUE(settles([&] { return rows().size() == 2u; }));
    EXPECT_EQ(rows(), (std::vector<std::string>{"k.mp3", "l.mp3"}));
}

// A name that is not UTF-8 is found by what it shows and reaches the deck byte for byte.
TEST_F(JumpTest, ANameThatIsNotUtf8PlaysByItsBytes) {
    const std::string dir = makeFiles("bytes", {"a.mp3"});
    const std::string latin = "b\xF6se 7.mp3";
    ASSERT_EQ(std::rename((dir + "a.mp3").c_str(), (dir + latin).c_str()), 0);
    makeFiles("bytes", {"c.mp3"});
    playDirDialog.answer = dir + "c.mp3";
    QTest::mouseClick(ui().Command6, Qt::LeftButton);
    ASSERT_EQ(ui().List4->count(), 2);
    deck1.calls.clear();
    open();
    QTest::keyClicks(field(), "SE 7");
    ASSERT_EQ(rows().size(), 1u);
    key(Qt::Key_Return);
    EXPECT_EQ(deck1.loaded, dir + latin);
    EXPECT_EQ(state().CurrentFile, latin);
    std::remove((dir + latin).c_str());  // a name the temporary folder's own removal misses
}

TEST_F(JumpTest, FindsTheRightEntriesAmong32767) {
    constexpr int kCount = 32767;
    std::vector<std::string> names;
    std::vector<std::string> expected;
    for (int i = 0; i < kCount; ++i) {
        const bool special = i % 1000 == 999;
        names.push_back((special ? "Señor " : "track ") + std::to_string(i) + ".mp3");
        if (special && std::to_string(i).find('2') != std::string::npos)
            expected.push_back(names.back());
    }
    fillPlaylist(ui().List4, names);
    state().TrackCount = kCount;
    state().PlaylistDir = "/music/";
    open();
    EXPECT_EQ(rows().size(), size_t(kCount));

    QTest::keyClicks(field(), "2 SENOR");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(rows(), expected);
    field()->clear();
    QTest::keyClicks(field(), "track 32766");
    EXPECT_EQ(rows(), std::vector<std::string>{"track 32766.mp3"});
    key(Qt::Key_Return);
    EXPECT_EQ(state().TrackNumber, kCount);
    EXPECT_EQ(deck1.loaded, "/music/track 32766.mp3");
    EXPECT_EQ(ui().List4->currentRow(), kCount - 1);
}

}  // namespace
