// The window for a screen reader and by keyboard: what each control is called, how the clock
// labels are announced, the keys, and two controls that must tell the truth (a deck bar moved
// without a drag, the state word after a step that starts deck 1).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <functional>

#include "mixer/mixer_sliders.h"
#include "support/form1_fixture.h"

namespace {

using Pick = QWidget* (*)(const Form1Controls&);

class AccessTest : public Form1Fixture {
protected:
    Form1& shown() {
        make();
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return *form;
    }
    std::string playlist(std::initializer_list<const char*> names) {
        const std::string music = makeFiles("music", names);
        playDirDialog.answer = music + *names.begin();
        QTest::mouseClick(ui().Command6, Qt::LeftButton);
        return music;
    }
};

TEST_F(AccessTest, EveryControlHasANameAScreenReaderCanSpeak) {
    shown();
    const struct {
        Pick widget;
        const char* name;
        QAccessible::Role role;
    } cases[] = {
        {[](const Form1Controls& c) -> QWidget* { return c.Command1; }, "Deck 1 play",
         QAccessible::Button},
        {[](const Form1Controls& c) -> QWidget* { return c.Command4; }, "Deck 1 pause",
         QAccessible::Button},
        {[](const Form1Controls& c) -> QWidget* { return c.Command15; }, "Deck 2 pause",
         QAccessible::Button},
        {[](const Form1Controls& c) -> QWidget* { return c.Command10; }, "Next track",
         QAccessible::Button},
        {[](const Form1Controls& c) -> QWidget* { return c.Command11; }, "Previous track",
         QAccessible::Button},
        {[](const Form1Controls& c) -> QWidget* { return c.VScroll5; }, "Deck 1 volume",
         QAccessible::Slider},
        {[](const Form1Controls& c) -> QWidget* { return c.VScroll1; }, "Master volume",
         QAccessible::Slider},
        {[](const Form1Controls& c) -> QWidget* { return c.Slider1; }, "Deck 1 progress",
         QAccessible::Slider},
        {[](const Form1Controls& c) -> QWidget* { return c.Label15; }, "Deck 1 elapsed time",
         QAccessible::StaticText},
        {[](const Form1Controls& c) -> QWidget* { return c.List4; }, "Playlist", QAccessible::List},
        {[](const Form1Controls& c) -> QWidget* { return c.List3; }, "Errors", QAccessible::List},
    };
    for (const auto& c : cases) {
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(c.widget(ui()));
        ASSERT_NE(access, nullptr) << c.name;
        EXPECT_EQ(access->text(QAccessible::Name).toStdString(), c.name);
        EXPECT_EQ(access->role(), c.role) << c.name;
    }
    // Every other control that takes focus has a name too, and every one that acts a tooltip.
    for (QWidget* widget : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget->focusPolicy() == Qt::NoFocus) continue;
        EXPECT_FALSE(
            QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty())
            << widget->objectName().toStdString();
    }
    EXPECT_EQ(ui().Command1->toolTip().toStdString(), "Play deck 1");
    EXPECT_NE(ui().Command2->toolTip().indexOf("Ctrl+O"), -1);

    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(form.get());
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), form->windowTitle());
}

TEST_F(AccessTest, AVolumeBarReadsAsPercentOfFullAndCanBeSetSo) {
    shown();
    QScrollBar* bar = ui().VScroll5;
    QAccessibleValueInterface* value = QAccessible::queryAccessibleInterface(bar)->valueInterface();
    ASSERT_NE(value, nullptr);
    const struct {
        int barValue;
        int percent;
    } levels[] = {{0, 100}, {bar->maximum(), 0}, {bar->maximum() / 4, 75}};
    for (const auto& level : levels) {
        bar->setValue(level.barValue);
        EXPECT_EQ(value->currentValue().toInt(), level.percent) << level.barValue;
    }
    value->setCurrentValue(50);  // as a screen reader's user moves it: the deck follows
    EXPECT_EQ(deck1.volume, deckBarVolume(bar->value()));
    EXPECT_NEAR(bar->value(), bar->maximum() / 2, 1);
}

TEST_F(AccessTest, TheRunningClockReadsAsItsCurrentTextWithoutAnEventPerTick) {
    shown();
    deck1.state = Deck::Playing;
    deck1.length = 100;
    deck1.position = 12.345;
    form->Timer1_Timer();
    QAccessibleInterface* clock = QAccessible::queryAccessibleInterface(ui().Label15);
    EXPECT_EQ(clock->text(QAccessible::Name).toStdString(), "Deck 1 elapsed time");
    EXPECT_EQ(clock->text(QAccessible::Description), ui().Label15->text());
    EXPECT_EQ(ui().Label15->text().toStdString(), "00:00:12.345");
}

TEST_F(AccessTest, NoFocusStopLiesOutsideTheWindow) {
    shown();
    QWidget* first = ui().Command1;
    first->setFocus();
    int stops = 0;
    for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || w->parentWidget() != form.get()) continue;
        ++stops;
        EXPECT_TRUE(form->rect().contains(w->geometry().center()))
            << w->objectName().toStdString() << " takes focus outside the window";
    }
    EXPECT_GT(stops, 20);
    // A window made big enough to show them lets them take focus again.
    form->resize(900, 700);
    EXPECT_NE(ui().List3->focusPolicy(), Qt::NoFocus);
}

TEST_F(AccessTest, ReturnPressesTheFocusedButtonAndLoadsTheSelectedEntry) {
    shown();
    playlist({"1.mp3", "2.mp3", "3.mp3"});
    deck1.calls.clear();
    ui().Command3->setFocus();
    QTest::keyClick(ui().Command3, Qt::Key_Return);
    EXPECT_EQ(deck1.transport(), std::vector<std::string>{"stop"});

    // In the playlist, as a double-click: into the deck whose turn it is (deck 2 first after
    // "Play Dir"), then into the other.
    QListWidget* list = ui().List4;
    list->setFocus();
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(deck2.loaded.substr(deck2.loaded.size() - 5), "2.mp3");
    EXPECT_EQ(deck2.state, Deck::Playing);
    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Enter);
    EXPECT_EQ(deck1.loaded.substr(deck1.loaded.size() - 5), "3.mp3");
}

TEST_F(AccessTest, ShortcutsDoWhatTheirButtonsAndTheMediaRemoteDo) {
    shown();
    const std::string music = makeFiles("music", {"1.mp3", "2.mp3"});
    playDirDialog.answer = music + "1.mp3";
    const struct {
        const char* what;
        QKeyCombination keys;
        std::function<bool()> done;
    } cases[] = {
        {"Ctrl+O asks for a file", Qt::CTRL | Qt::Key_O, [&] { return playFileDialog.shown == 1; }},
        {"Ctrl+Shift+O asks for a folder", Qt::CTRL | Qt::SHIFT | Qt::Key_O,
         [&] { return playDirDialog.shown == 1 && deck1.state == Deck::Playing; }},
        {"Pause key pauses deck 1", QKeyCombination(Qt::Key_MediaPause),
         [&] { return deck1.state == Deck::Paused; }},
        {"Play key plays it on", QKeyCombination(Qt::Key_MediaPlay),
         [&] { return deck1.state == Deck::Playing; }},
        {"Next key loads the next entry", QKeyCombination(Qt::Key_MediaNext),
         [&] { return state().TrackNumber == 2; }},
        {"Previous key the one before", QKeyCombination(Qt::Key_MediaPrevious),
         [&] { return state().TrackNumber == 1; }},
        {"Stop key stops deck 1", QKeyCombination(Qt::Key_MediaStop),
         [&] { return deck1.state == Deck::Stopped; }},
        {"Ctrl+Q closes the window", Qt::CTRL | Qt::Key_Q, [&] { return !form->isVisible(); }},
    };
    for (const auto& c : cases) {
        // With a text of its own: QTest finds none for the media keys.
        QTest::sendKeyEvent(QTest::Click, form.get(), c.keys.key(), QString(),
                            c.keys.keyboardModifiers());
        EXPECT_TRUE(c.done()) << c.what;
    }
}

TEST_F(AccessTest, ADeckBarMovedWithoutADragSetsTheDecksVolume) {
    shown();
    QScrollBar* bar = ui().VScroll5;
    const struct {
        const char* how;
        std::function<void()> move;
    } moves[] = {
        {"arrow key", [&] { QTest::keyClick(bar, Qt::Key_Down); }},
        {"End key", [&] { QTest::keyClick(bar, Qt::Key_End); }},
        {"Home key", [&] { QTest::keyClick(bar, Qt::Key_Home); }},
        {"a step action (arrow button, trough, wheel)",
         [&] { bar->triggerAction(QAbstractSlider::SliderPageStepAdd); }},
    };
    bar->setFocus();
    for (const auto& m : moves) {
        deck1.volume = 1;  // no volume of the bar's
        m.move();
        EXPECT_EQ(deck1.volume, deckBarVolume(bar->value())) << m.how;
    }
    // A value the program sets leaves the deck alone.
    deck1.volume = 1;
    bar->setValue(bar->maximum() / 3);
    EXPECT_EQ(deck1.volume, 1);
}

TEST_F(AccessTest, TheStateWordSaysPlayingOnceAStepHasStartedDeckOne) {
    shown();
    playlist({"1.mp3", "2.mp3"});
    EXPECT_EQ(text(ui().Label19), "Playing") << "after Play Dir";
    deck1.state = Deck::Stopped;  // the track ended: the watch plays the next one
    form->Timer1_Timer();
    EXPECT_EQ(state().TrackNumber, 2);
    EXPECT_EQ(text(ui().Label19), "Playing") << "after the automatic advance";
}

}  // namespace
