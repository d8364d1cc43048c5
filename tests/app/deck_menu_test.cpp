#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <atomic>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "app/levelling_settings.h"
#include "app/settings_writer.h"
#include "support/file_text.h"
#include "support/form1_fixture.h"
#include "support/hanging_mount.h"
#include "support/loop_probe.h"
#include "support/serving_process.h"

namespace {

const OutputDevice kSpeakers{"alsa_output.pci-0000_00_1f.3.analog-stereo", "Built-in Speakers"};
const OutputDevice kPhones{"bluez_sink.00_1B_66.a2dp_sink", "Phones"};
using Names = std::vector<std::string>;
// The levelling section as it reads under the outputs, Off checked.
const std::string kLevellingOff =
    " | --- | [-] Loudness levelling | (x) Off | ( ) Track | ( ) Album";
// Deck 1's menu then holds the crossfade of its automatic advance, off, and how the player
// starts, off until chosen.
const std::string kCrossfadeOff =
    " | --- | [-] Crossfade | (x) Off (gapless) | ( ) 2 s | ( ) 4 s | ( ) 8 s";
const std::string kAtStartFresh =
    " | --- | [-] At start | (x) Fresh | ( ) Resume paused | ( ) Resume playing";
// What follows the outputs in deck `number`'s menu, every choice at its default.
std::string defaultsAfterOutputs(int number) {
    return kLevellingOff + (number == 1 ? kCrossfadeOff + kAtStartFresh : "");
}

// What a screen reader reads of the open menu: "(x)" checked, "( )" not, "[-]" disabled.
std::string readMenu(QMenu* menu) {
    std::string items;
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(menu);
    for (int i = 0; i < access->childCount(); ++i) {
        const QAccessible::State state = access->child(i)->state();
        const std::string mark = access->child(i)->role() == QAccessible::Separator ? "---"
                                 : state.disabled                                   ? "[-] "
                                 : state.checked                                    ? "(x) "
                                                                                    : "( ) ";
        items += (i ? " | " : "") + mark + access->child(i)->text(QAccessible::Name).toStdString();
    }
    return items;
}

QMenu* openMenu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

class DeckMenuTest : public Form1Fixture {
protected:
    // A fresh window on fresh decks, deck `number` offering `devices`.
    void start(int number, std::vector<OutputDevice> devices,
               std::optional<SettingsPaths> files = std::nullopt) {
        form.reset();
        deck1 = FakeDeck{};
        deck2 = FakeDeck{};
        deck(number).offersChoice = true;
        deck(number).devices = std::move(devices);
        form = std::make_unique<Form1>(
            Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
            files.value_or(SettingsPaths(settingsFile())));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        backToWindow();
    }
    // The window is active again once a menu has closed; its late news of activation would
    // close the next menu.
    void backToWindow() {
        QCoreApplication::processEvents();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    // Through the window, as the desktop delivers it, the pointer moved there first.
    void rightClick(QWidget* widget, QPoint at) {
        const QPoint inWindow = widget->mapTo(form.get(), at);
        QTest::mouseMove(form->windowHandle(), inWindow);
        QTest::mouseClick(form->windowHandle(), Qt::RightButton, {}, inWindow);
    }
    FakeDeck& deck(int number) { return number == 1 ? deck1 : deck2; }
    QMenu* openOn(int number) {
        QWidget* caption = number == 1 ? ui().Label1 : ui().Label9;
        rightClick(caption, caption->rect().center());
        return openMenu();
    }
    // Picks the item that reads `name` in deck `number`'s menu, and waits for its save.
    void choose(int number, const std::string& name) {
        pick(number, name);
        EXPECT_EQ(form->settingsWriter().flush(std::chrono::seconds(10)),
                  std::vector<std::string>{});
    }
    void pick(int number, const std::string& name) {
        QMenu* menu = openOn(number);
        ASSERT_NE(menu, nullptr);
        QAction* item = nullptr;
        for (QAction* action : menu->actions())
            if (action->text().replace("&&", "&").toStdString() == name) item = action;
        ASSERT_NE(item, nullptr) << name;
        item->trigger();
        menu->close();
        backToWindow();
    }
};

TEST_F(DeckMenuTest, OpensOnEveryPartOfItsDeckByMouseAndKeyboardAndActsOnNothingElse) {
    enum How { Click, MenuKey, ShiftF10 };
    struct Case {
        const char* control;
        How how;
        int deck;
        QPoint at;  // where a click lands in the control; null: its centre
    };
    // clang-format off
    const Case cases[] = {
        {"Label1", Click, 1, {}}, {"Shape1", Click, 1, {4, 8}}, {"Label15", Click, 1, {}},
        {"Label2", Click, 1, {}}, {"Shape7", Click, 1, {}}, {"Command1", Click, 1, {}},
        {"Command4", MenuKey, 1, {}}, {"Command10", ShiftF10, 1, {}}, {"Slider1", ShiftF10, 1, {}},
        {"VScroll5", Click, 1, {}}, {"VScroll5", MenuKey, 1, {}}, {"Label9", Click, 2, {}},
        {"Shape3", Click, 2, {4, 8}}, {"Label14", Click, 2, {}}, {"Label11", Click, 2, {}},
        {"Shape8", Click, 2, {}}, {"Command13", Click, 2, {}}, {"Command16", MenuKey, 2, {}},
        {"Command19", ShiftF10, 2, {}}, {"Slider2", MenuKey, 2, {}}, {"VScroll6", Click, 2, {}},
        {"VScroll6", ShiftF10, 2, {}}, {"Slider2", Click, 2, {4, 6}}, {"VScroll5", Click, 1, {4, 4}},
    };
    // clang-format on
    start(1, {kSpeakers, kPhones});
    deck2.offersChoice = true;
    deck2.devices = {kSpeakers, kPhones};
    deck2.chosenOutput = kPhones.name;
    ui().VScroll5->setValue(500);
    ui().Slider2->setValue(60);
    std::vector<std::pair<QWidget*, QRect>> placed;
    for (QWidget* widget : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        placed.emplace_back(widget, widget->geometry());

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.control) + " by " + std::to_string(c.how));
        QWidget* widget = form->findChild<QWidget*>(c.control);
        const QPoint at = c.at.isNull() ? widget->rect().center() : c.at;
        ASSERT_EQ(form->childAt(widget->mapTo(form.get(), at)), widget);
        if (c.how == Click) {
            rightClick(widget, at);
        } else {
            widget->setFocus();
            QTest::keyClick(widget, c.how == MenuKey ? Qt::Key_Menu : Qt::Key_F10,
                            c.how == ShiftF10 ? Qt::ShiftModifier : Qt::NoModifier);
        }
        QMenu* menu = openMenu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->accessibleName().toStdString(),
                  "Deck " + std::to_string(c.deck) + " output");
        EXPECT_EQ(readMenu(menu),
                  (c.deck == 1 ? "(x) Default output | ( ) Built-in Speakers | ( ) Phones"
                               : "( ) Default output | ( ) Built-in Speakers | (x) Phones") +
                      defaultsAfterOutputs(c.deck));
        QTest::keyClick(menu, Qt::Key_Escape);
        EXPECT_EQ(openMenu(), nullptr);  // one menu, not two
        backToWindow();
    }
    EXPECT_TRUE(deck1.transport().empty() && deck2.transport().empty());
    EXPECT_TRUE(deck1.outputChoices.empty() && deck2.outputChoices.empty());
    EXPECT_EQ(ui().VScroll5->value(), 500);
    EXPECT_EQ(ui().Slider2->value(), 60);
    for (const auto& [widget, geometry] : placed)
        EXPECT_EQ(widget->geometry(), geometry) << widget->objectName().toStdString();
}

TEST_F(DeckMenuTest, ListsTheOutputsAsTheDeckHasThemNow) {
    const std::string noServer =
        " | --- | [-] No sound server answers: | [-] sound goes to the system's default device";
    const std::string noServerHeld =
        " | --- | [-] No sound server answers: | [-] the deck waits for its output until one does";
    struct Case {
        bool offered;
        std::vector<OutputDevice> devices;
        std::string current;
        std::string expected;
    };
    // clang-format off
    const Case cases[] = {
        {true, {kSpeakers, kPhones}, kSpeakers.name, "( ) Default output | (x) Built-in Speakers | ( ) Phones"},
        {true, {}, "", "(x) Default output"},
        {true, {{"a", "Rock & Roll &&"}, {"b", "Caf\xE9 \xFF"}, {"c", ""}}, "b",
         "( ) Default output | ( ) Rock & Roll && | (x) Caf\uFFFD \uFFFD | ( ) c"},
        // Unplugged: known by the description it was listed with above, or else by its name.
        {true, {kSpeakers}, kPhones.name, "( ) Default output | ( ) Built-in Speakers | (x) Phones (not connected)"},
        {true, {kSpeakers}, "usb-dac", "( ) Default output | ( ) Built-in Speakers | (x) usb-dac (not connected)"},
        {false, {kSpeakers}, "", "(x) Default output" + noServer},
        {false, {}, "usb-dac", "( ) Default output | (x) usb-dac (not connected)" + noServerHeld},
    };
    // clang-format on
    start(1, {});
    for (const Case& c : cases) {
        for (int number : {1, 2}) {
            SCOPED_TRACE(c.expected + " on deck " + std::to_string(number));
            deck(number).offersChoice = c.offered;
            deck(number).devices = c.devices;
            deck(number).chosenOutput = c.current;
            QMenu* menu = openOn(number);
            ASSERT_NE(menu, nullptr);
            EXPECT_EQ(readMenu(menu), c.expected + defaultsAfterOutputs(number));
            menu->close();
            backToWindow();
        }
    }
}

TEST_F(DeckMenuTest, AChoiceGoesToTheDeckIsSavedAtOnceAndComesBackAtTheNextStart) {
    struct Case {
        int deck;
        std::string before;  // the settings file; "-" none
        std::string pick;
        std::string after;  // "-" none
    };
    const std::string phones = kPhones.name, speakers = kSpeakers.name;
    // clang-format off
    const Case cases[] = {
        {1, "-", "Phones", "[Outputs]\nDeck1=" + phones + "\n"},
        {2, "[System]\nWaveVolume=5\n", "Built-in Speakers", "[System]\nWaveVolume=5\n[Outputs]\nDeck2=" + speakers + "\n"},
        {1, "[Outputs]\nDeck1=x\nDeck2=y\n", "Phones", "[Outputs]\nDeck1=" + phones + "\nDeck2=y\n"},
        {2, "[Outputs]\nDeck1=x\nDeck2=y\n", "Default output", "[Outputs]\nDeck1=x\nDeck2=\n"},
        {1, "-", "Default output", "-"},
        {1, "[Outputs]\nDeck2=y\n", "Default output", "[Outputs]\nDeck2=y\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pick + " on deck " + std::to_string(c.deck) + " after " + c.before);
        std::remove(settingsFile().c_str());
        if (c.before != "-") writeFile(settingsFile(), c.before);
        start(c.deck, {kSpeakers, kPhones});
        const Names other = deck(3 - c.deck).outputChoices;
        deck(c.deck).outputChoices.clear();
        choose(c.deck, c.pick);
        const std::string name = c.pick == "Phones"              ? phones
                                 : c.pick == "Built-in Speakers" ? speakers
                                                                 : "";
        EXPECT_EQ(deck(c.deck).outputChoices, Names{name});
        EXPECT_EQ(deck(3 - c.deck).outputChoices, other);
        EXPECT_EQ(fileText(settingsFile()), c.after == "-" ? "" : c.after);
        EXPECT_TRUE(errors.taken().empty());
        start(c.deck, {});  // an empty or missing key gives the deck nothing
        EXPECT_EQ(deck(c.deck).outputChoices, name.empty() ? Names{} : Names{name});
    }
}

TEST_F(DeckMenuTest, AnyNameIsSavedByteForByteOrRefusedWithOneLineAndTheFileUntouched) {
    // A byte-order mark, junk, comments, other sections, CRLF, no line end at the very end.
    const std::string head = "\xEF\xBB\xBFjunk\r\n; note\r\n[outputs]\r\n";
    const std::string tail = "\r\nnoise\r\n[System]\r\nData-Path=/m\xE9/\r\n# more\r\nx = 1";
    const std::string before = head + "Deck2 = keep me \r\ndeck1=old" + tail;
    const Names kept = {"\"quoted\"",
                        "a=b=c",
                        "sink]x",
                        ";semi",
                        "[lead",
                        "#hash",
                        "bytes \xE9\xFF\xC3",
                        "inner  blanks\tand tab"};
    const Names refused = {"line\nbreak", "car\rriage", " leading", "trailing ", "tab\t"};
    for (const Names* names : {&kept, &refused}) {
        for (const std::string& name : *names) {
            for (int number : {1, 2}) {
                SCOPED_TRACE(name + " on deck " + std::to_string(number));
                writeFile(settingsFile(), before);
                const size_t reported = errors.taken().size();
                start(number, {{name, "The output"}});
                deck(number).outputChoices.clear();
                choose(number, "The output");
                EXPECT_EQ(deck(number).outputChoices, Names{name});  // it plays there now
                const Names lines = errors.taken();
                if (names == &refused) {
                    ASSERT_EQ(lines.size(), reported + 1);
                    EXPECT_EQ(lines.back().rfind("Deck " + std::to_string(number) + " output", 0),
                              0u);
                    EXPECT_EQ(fileText(settingsFile()), before);
                    continue;
                }
                EXPECT_EQ(lines.size(), reported);
                EXPECT_EQ(fileText(settingsFile()),
                          head +
                              (number == 1 ? "Deck2 = keep me \r\nDeck1=" + name
                                           : "Deck2=" + name + "\r\ndeck1=old") +
                              tail);
                start(number, {});
                EXPECT_EQ(deck(number).outputChoices, Names{name});
            }
        }
    }
}

TEST_F(DeckMenuTest, SavesWhereTheSettingsGoOrSaysWhyNot) {
    const std::string beside = dir.filePath("beside.ini").toStdString();
    const std::string own = dir.filePath("config/velmor/velmor-mp3-player.ini").toStdString();
    const std::string first =
        "[System]\nData-Path=/music/\n[Outputs]\nDeck1=" + kPhones.name + "\n";
    writeFile(beside, first);
    start(1, {kSpeakers, kPhones}, SettingsPaths(beside, own, true));
    EXPECT_EQ(deck1.outputChoices, Names{kPhones.name});
    // The user's own file, in a directory made for it, begins with what the other file held
    // and keeps even the default, which would otherwise give way to the other file's choice.
    choose(1, "Default output");
    EXPECT_EQ(fileText(own), "[System]\nData-Path=/music/\n[Outputs]\nDeck1=\n");
    EXPECT_EQ(fileText(beside), first);
    EXPECT_TRUE(errors.taken().empty());

    start(2, {kSpeakers}, SettingsPaths(dir.path().toStdString()));  // a directory
    choose(2, "Built-in Speakers");
    EXPECT_EQ(deck2.outputChoices, Names{kSpeakers.name});
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_EQ(errors.taken()[0].rfind("Deck 2 output not saved: ", 0), 0u) << errors.taken()[0];
}

TEST_F(DeckMenuTest, LevellingIsChosenPerDeckSavedAtOnceAndGivenBackAtTheNextStart) {
    using L = Deck::Levelling;
    using Given = std::vector<std::pair<L, double>>;
    struct Case {
        int deck;
        std::string before;  // the settings file; "-" none
        std::string pick;
        L mode;
        double preampDb;    // as the file gives it
        std::string after;  // "-" none
    };
    // clang-format off
    const Case cases[] = {
        {1, "-", "Track", L::Track, 0, "[Levelling]\nDeck1=Track\n"},
        {2, "[System]\nWaveVolume=5\n[Outputs]\nDeck2=x\n", "Album", L::Album, 0,
         "[System]\nWaveVolume=5\n[Outputs]\nDeck2=x\n[Levelling]\nDeck2=Album\n"},
        {1, "[Levelling]\r\nDeck1=Album\r\nDeck2=Track\r\n", "Off", L::Off, 0,
         "[Levelling]\r\nDeck1=Off\r\nDeck2=Track\r\n"},
        {2, "; mine\n[Levelling]\nPreamp=-4.5 dB\n", "Track", L::Track, -4.5,
         "; mine\n[Levelling]\nPreamp=-4.5 dB\nDeck2=Track\n"},
        // A file that never held a choice gets nothing for Off.
        {1, "-", "Off", L::Off, 0, "-"},
        {2, "[Levelling]\nPreamp=2\n", "Off", L::Off, 2, "[Levelling]\nPreamp=2\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pick + " on deck " + std::to_string(c.deck) + " after " + c.before);
        std::remove(settingsFile().c_str());
        if (c.before != "-") writeFile(settingsFile(), c.before);
        start(c.deck, {});
        const Given other = deck(3 - c.deck).levellings;
        deck(c.deck).levellings.clear();
        choose(c.deck, c.pick);
        EXPECT_EQ(deck(c.deck).levellings, (Given{{c.mode, c.preampDb}}));
        EXPECT_EQ(deck(3 - c.deck).levellings, other);
        EXPECT_EQ(fileText(settingsFile()), c.after == "-" ? "" : c.after);
        EXPECT_TRUE(errors.taken().empty());

        start(c.deck, {});  // Off is every deck's own: nothing to give
        EXPECT_EQ(deck(c.deck).levellings,
                  (c.mode == L::Off ? Given{} : Given{{c.mode, c.preampDb}}));
        QMenu* menu = openOn(c.deck);
        ASSERT_NE(menu, nullptr);
        const std::string shown = readMenu(menu);
        EXPECT_NE(shown.find("[-] Loudness levelling | " +
                             std::string(c.mode == L::Off     ? "(x) Off | ( ) Track | ( ) Album"
                                         : c.mode == L::Track ? "( ) Off | (x) Track | ( ) Album"
                                                              : "( ) Off | ( ) Track | (x) Album")),
                  std::string::npos)
            << shown;
        menu->close();
        backToWindow();
    }
}

TEST_F(DeckMenuTest, CrossfadeIsDeckOnesSavedAtOnceAndGivenBackAtTheNextStart) {
    struct Case {
        std::string before;  // the settings file; "-" none
        std::string pick;
        double seconds;
        std::string after;  // "-" none
        std::string checked;
    };
    // clang-format off
    const Case cases[] = {
        {"-", "4 s", 4, "[Crossfade]\nDeck1=4\n", "( ) Off (gapless) | ( ) 2 s | (x) 4 s | ( ) 8 s"},
        {"[System]\r\nWaveVolume=5\r\n", "8 s", 8, "[System]\r\nWaveVolume=5\r\n[Crossfade]\r\nDeck1=8\r\n", "( ) Off (gapless) | ( ) 2 s | ( ) 4 s | (x) 8 s"},
        {"[Crossfade]\nDeck1=2\n", "Off (gapless)", 0, "[Crossfade]\nDeck1=Off\n", "(x) Off (gapless) | ( ) 2 s | ( ) 4 s | ( ) 8 s"},
        // A file that never held a choice gets nothing for Off.
        {"-", "Off (gapless)", 0, "-", "(x) Off (gapless) | ( ) 2 s | ( ) 4 s | ( ) 8 s"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pick + " after " + c.before);
        std::remove(settingsFile().c_str());
        if (c.before != "-") writeFile(settingsFile(), c.before);
        start(1, {});
        choose(1, c.pick);
        EXPECT_EQ(deck1.crossfadeSeconds, c.seconds);
        EXPECT_EQ(deck2.crossfadeSeconds, 0);
        EXPECT_EQ(fileText(settingsFile()), c.after == "-" ? "" : c.after);
        EXPECT_TRUE(errors.taken().empty());

        start(1, {});
        EXPECT_EQ(deck1.crossfadeSeconds, c.seconds);
        QMenu* menu = openOn(1);
        ASSERT_NE(menu, nullptr);
        const std::string shown = readMenu(menu);
        EXPECT_NE(shown.find("[-] Crossfade | " + c.checked), std::string::npos) << shown;
        menu->close();
        backToWindow();
        // Deck 2 is never crossfaded.
        menu = openOn(2);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(readMenu(menu).find("Crossfade"), std::string::npos);
        menu->close();
        backToWindow();
    }
    // Anything but an offered length reads as the gapless join.
    for (const char* stored : {"3", "4.0", "-4", "", "8 s", "Off"}) {
        SCOPED_TRACE(stored);
        writeFile(settingsFile(), std::string("[Crossfade]\nDeck1=") + stored + "\n");
        start(1, {});
        EXPECT_EQ(deck1.crossfadeSeconds, 0);
    }
}

TEST_F(DeckMenuTest, HowThePlayerStartsIsChosenOnDeck1SavedAtOnceAndShownAtTheNextStart) {
    struct Case {
        std::string before;  // the settings file; "-" none
        std::string pick;
        std::string after;  // "-" none
        std::string shown;  // the section at the next start
    };
    // clang-format off
    const Case cases[] = {
        {"-", "Resume paused", "[Resume]\nAtStart=Paused\n",
         " | --- | [-] At start | ( ) Fresh | (x) Resume paused | ( ) Resume playing"},
        {"; mine\r\n[System]\r\nWaveVolume=5\r\n", "Resume playing",
         "; mine\r\n[System]\r\nWaveVolume=5\r\n[Resume]\r\nAtStart=Playing\r\n",
         " | --- | [-] At start | ( ) Fresh | ( ) Resume paused | (x) Resume playing"},
        {"[Resume]\nAtStart=Playing\nDeck1File=/a.mp3\n", "Fresh",
         "[Resume]\nAtStart=Fresh\nDeck1File=/a.mp3\n", kAtStartFresh},
        // A file that never held a choice gets nothing for Fresh.
        {"-", "Fresh", "-", kAtStartFresh},
        {"[System]\nWaveVolume=5\n", "Fresh", "[System]\nWaveVolume=5\n", kAtStartFresh},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pick + " after " + c.before);
        std::remove(settingsFile().c_str());
        if (c.before != "-") writeFile(settingsFile(), c.before);
        start(1, {});
        choose(1, c.pick);
        EXPECT_EQ(fileText(settingsFile()), c.after == "-" ? "" : c.after);
        EXPECT_TRUE(deck1.transport().empty() && deck2.transport().empty());
        EXPECT_TRUE(errors.taken().empty());

        start(1, {});
        QMenu* menu = openOn(1);
        ASSERT_NE(menu, nullptr);
        const std::string shown = readMenu(menu);
        EXPECT_EQ(shown.substr(shown.size() - c.shown.size()), c.shown) << shown;
        menu->close();
        backToWindow();
        menu = openOn(2);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(readMenu(menu).find("At start"), std::string::npos);
        menu->close();
        backToWindow();
    }
}

TEST_F(DeckMenuTest, StoredLevellingAndPreampAreReadSafely) {
    using L = Deck::Levelling;
    struct Case {
        std::string value;  // Deck1's, and Preamp's
        L mode;
        double preampDb;
    };
    // clang-format off
    const Case cases[] = {
        {"Track", L::Track, 0}, {"Album", L::Album, 0}, {"Off", L::Off, 0},
        {"", L::Off, 0}, {"track", L::Off, 0}, {"Loud", L::Off, 0}, {"Track2", L::Off, 0},
        {"1", L::Off, 1}, {"-3.5", L::Off, -3.5}, {"+6 dB", L::Off, 6}, {" -2 db ", L::Off, -2},
        {"15", L::Off, 15}, {"-15", L::Off, -15},
        // Beyond the pre-amp's range: clamped; no gain at all: none.
        {"20", L::Off, 15}, {"-40 dB", L::Off, -15}, {"nan", L::Off, 0}, {"inf", L::Off, 0},
        {"-inf", L::Off, 0}, {"1e308", L::Off, 0}, {"999", L::Off, 0}, {"3 dBFS", L::Off, 0},
        {"0x10", L::Off, 0}, {"junk", L::Off, 0}, {"6dB6", L::Off, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.value + "\"");
        EXPECT_EQ(LevellingSettings::parsePreamp(c.value), c.preampDb);
        // Through the file: a deck given Track in it takes the pre-amp along.
        writeFile(settingsFile(),
                  "[Levelling]\nDeck1=" + c.value + "\nDeck2=Track\nPreamp=" + c.value + "\n");
        start(1, {});
        using Given = std::vector<std::pair<L, double>>;
        EXPECT_EQ(deck1.levellings, (c.mode == L::Off ? Given{} : Given{{c.mode, c.preampDb}}));
        EXPECT_EQ(deck2.levellings, (Given{{L::Track, c.preampDb}}));
        EXPECT_TRUE(errors.taken().empty());
    }
}

TEST_F(DeckMenuTest, AChoiceSavedOnAHungFolderLeavesTheWindowRunning) {
    QTemporaryDir disk;
    const std::string source = disk.filePath("source").toStdString();
    QDir().mkpath(QString::fromStdString(source));
    writeFile(source + "/hang.ini", "[Outputs]\nDeck1=x\n");
    writeFile(settingsFile(), "[System]\nData-Path=/music/\n");
    HangingMount mount(source, disk.path().toStdString());
    if (!mount.available()) GTEST_SKIP() << "FUSE cannot be mounted here";
    // The start-up values come from a healthy file; the saves go where every read hangs.
    start(1, {kSpeakers, kPhones}, SettingsPaths(settingsFile(), mount.path("hang.ini"), false));

    // The folder answers after 5 s, whether or not the window waited for it.
    std::atomic<bool> released = false;
    const std::jthread answer([&] {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        released = true;
        mount.release();
    });
    LoopProbe probe;
    pick(1, "Phones");
    EXPECT_EQ(deck1.outputChoices, Names{kPhones.name});
    const int beats = probe.beats();
    ASSERT_TRUE(serveUntil([&] { return probe.beats() >= beats + 20 || released; }, 20000));
    EXPECT_FALSE(released) << "the window waited for the folder";
    // Once it answers, the save goes on there, and the read-only folder refuses it.
    EXPECT_TRUE(serveUntil([&] { return !errors.taken().empty(); }, 20000));
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_EQ(errors.taken()[0].rfind("Deck 1 output not saved: ", 0), 0u) << errors.taken()[0];
    std::cout << "[ figure ] longest window stall while a choice was saved on a folder that "
                 "hung 5 s: "
              << probe.longestGap() << " ms" << std::endl;
}

TEST_F(DeckMenuTest, TheLastChoiceAndTheCloseValuesAreOnDiskBeforeTheProgramEnds) {
    writeFile(settingsFile(), "; mine\n[Outputs]\nDeck2=y\n");
    start(1, {kSpeakers, kPhones});
    pick(1, "Phones");
    pick(1, "Built-in Speakers");
    pick(1, "Track");
    std::string atEnd;
    form->setOnUnloaded([&] { atEnd = fileText(settingsFile()); });
    form->close();
    EXPECT_EQ(atEnd, "; mine\n[Outputs]\nDeck2=y\nDeck1=" + kSpeakers.name +
                         "\n[Levelling]\nDeck1=Track\n[System]\nData-Path=\nWaveVolume=0\n"
                         "MainVolume=0\n");
    EXPECT_TRUE(errors.taken().empty());
}
