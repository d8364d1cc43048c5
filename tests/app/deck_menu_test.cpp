#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <fstream>
#include <functional>
#include <optional>

#include "support/file_text.h"
#include "support/form1_fixture.h"

namespace {

const OutputDevice kSpeakers{"alsa_output.pci-0000_00_1f.3.analog-stereo", "Built-in Speakers"};
const OutputDevice kPhones{"bluez_sink.00_1B_66.a2dp_sink", "Phones"};

// What a screen reader reads of the open menu, item by item: "(x) " checked, "( ) " checkable,
// "[-] " disabled, "---" a separator.
std::vector<std::string> readMenu(QMenu* menu) {
    std::vector<std::string> items;
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(menu);
    for (int i = 0; i < access->childCount(); ++i) {
        QAccessibleInterface* item = access->child(i);
        const QAccessible::State state = item->state();
        const std::string name = item->text(QAccessible::Name).toStdString();
        if (item->role() == QAccessible::Separator)
            items.push_back("---");
        else if (state.disabled)
            items.push_back("[-] " + name);
        else if (state.checkable)
            items.push_back((state.checked ? "(x) " : "( ) ") + name);
        else
            items.push_back(name);
    }
    return items;
}

QMenu* openMenu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

// The action a user picks by what it reads as.
QAction* itemNamed(QMenu* menu, const std::string& name) {
    for (QAction* action : menu->actions()) {
        QString text = action->text();
        if (text.replace(QStringLiteral("&&"), QStringLiteral("&")).toStdString() == name)
            return action;
    }
    return nullptr;
}

[[maybe_unused]] void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

class DeckMenuTest : public Form1Fixture {
protected:
    void show(std::optional<SettingsPaths> files = std::nullopt) {
        if (files) {
            form = std::make_unique<Form1>(
                Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
                *files);
        } else {
            make();
        }
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        backToWindow();
    }
    // Through the window, as the desktop delivers it: the window finds the control under the
    // pointer and asks it for its menu.
    void rightClick(QWidget* widget, QPoint at) {
        // The pointer is where the click is: a menu that pops up where the pointer is not
        // takes the button's release for a choice made elsewhere, and closes.
        QCursor::setPos(widget->mapToGlobal(at));
        QTest::mouseClick(form->windowHandle(), Qt::RightButton, {}, widget->mapTo(form.get(), at));
    }
    // The window is active again once a menu has closed; without that, its late activation
    // news would close the next menu.
    void backToWindow() {
        QCoreApplication::processEvents();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    FakeDeck& deck(int number) { return number == 1 ? deck1 : deck2; }
    QWidget* control(const char* name) { return form->findChild<QWidget*>(name); }

    // Opens deck `number`'s menu by a right-click on its caption.
    QMenu* openOn(int number) {
        QWidget* caption = control(number == 1 ? "Label1" : "Label9");
        rightClick(caption, caption->rect().center());
        QMenu* menu = openMenu();
        EXPECT_NE(menu, nullptr);
        return menu;
    }
    // Picks the item that reads `name` in deck `number`'s menu, which then closes.
    void choose(int number, const std::string& name) {
        QMenu* menu = openOn(number);
        ASSERT_NE(menu, nullptr);
        QAction* item = itemNamed(menu, name);
        ASSERT_NE(item, nullptr) << name;
        item->trigger();
        menu->close();
        backToWindow();
    }
};

TEST_F(DeckMenuTest, OpensOnEveryPartOfItsDeckByMouseAndKeyboard) {
    enum How { RightClick, MenuKey, ShiftF10 };
    struct Case {
        const char* control;
        How how;
        int deck;
        QPoint at;  // where a click lands, in the control; (-1,-1) its centre
    };
    const QPoint centre(-1, -1);
    const Case cases[] = {
        {"Label1", RightClick, 1, centre},       {"Shape1", RightClick, 1, QPoint(4, 8)},
        {"Label15", RightClick, 1, centre},      {"Label2", RightClick, 1, centre},
        {"Shape7", RightClick, 1, centre},       {"Command1", RightClick, 1, centre},
        {"Command4", MenuKey, 1, centre},        {"Command10", ShiftF10, 1, centre},
        {"Slider1", ShiftF10, 1, centre},        {"VScroll5", RightClick, 1, centre},
        {"VScroll5", MenuKey, 1, centre},        {"Label9", RightClick, 2, centre},
        {"Shape3", RightClick, 2, QPoint(4, 8)}, {"Label14", RightClick, 2, centre},
        {"Label11", RightClick, 2, centre},      {"Shape8", RightClick, 2, centre},
        {"Command13", RightClick, 2, centre},    {"Command16", MenuKey, 2, centre},
        {"Command19", ShiftF10, 2, centre},      {"Slider2", MenuKey, 2, centre},
        {"VScroll6", RightClick, 2, centre},     {"VScroll6", ShiftF10, 2, centre},
    };
    deck1.offersChoice = deck2.offersChoice = true;
    deck1.devices = deck2.devices = {kSpeakers, kPhones};
    deck2.chosenOutput = kPhones.name;
    show();
    ui().VScroll5->setValue(500);
    ui().VScroll6->setValue(700);
    ui().Slider1->setValue(40);
    ui().Slider2->setValue(60);
    std::vector<std::pair<QWidget*, QRect>> placed;
    for (QWidget* widget : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        placed.emplace_back(widget, widget->geometry());

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.control) + " how " + std::to_string(c.how));
        QWidget* widget = control(c.control);
        ASSERT_NE(widget, nullptr);
        const QPoint at = c.at == centre ? widget->rect().center() : c.at;
        ASSERT_EQ(form->childAt(widget->mapTo(form.get(), at)), widget);
        if (c.how == RightClick) {
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
        const std::vector<std::string> expected =
            c.deck == 1 ? std::vector<std::string>{"(x) Default output", "( ) Built-in Speakers",
                                                   "( ) Phones"}
                        : std::vector<std::string>{"( ) Default output", "( ) Built-in Speakers",
                                                   "(x) Phones"};
        EXPECT_EQ(readMenu(menu), expected);
        // The key opened one menu only and went no further.
        QTest::keyClick(menu, Qt::Key_Escape);
        EXPECT_EQ(openMenu(), nullptr);
        backToWindow();
    }

    // Nothing was pressed, moved or chosen on the way, and nothing in the window moved.
    EXPECT_TRUE(deck1.transport().empty());
    EXPECT_TRUE(deck2.transport().empty());
    EXPECT_TRUE(deck1.outputChoices.empty());
    EXPECT_TRUE(deck2.outputChoices.empty());
    EXPECT_EQ(ui().VScroll5->value(), 500);
    EXPECT_EQ(ui().VScroll6->value(), 700);
    EXPECT_EQ(ui().Slider1->value(), 40);
    EXPECT_EQ(ui().Slider2->value(), 60);
    for (const auto& [widget, geometry] : placed)
        EXPECT_EQ(widget->geometry(), geometry) << widget->objectName().toStdString();
}

TEST_F(DeckMenuTest, ListsTheOutputsAsTheDeckHasThemNow) {
    const std::string noServer1 = "[-] No sound server answers:";
    const std::string noServer2 = "[-] sound goes to the system's default device";
    struct Case {
        const char* what;
        bool offered;
        std::vector<OutputDevice> devices;
        std::string current;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"the default",
         true,
         {kSpeakers, kPhones},
         "",
         {"(x) Default output", "( ) Built-in Speakers", "( ) Phones"}},
        {"one of the outputs",
         true,
         {kSpeakers, kPhones},
         kSpeakers.name,
         {"( ) Default output", "(x) Built-in Speakers", "( ) Phones"}},
        {"none there but the default", true, {}, "", {"(x) Default output"}},
        {"an '&' is itself, bytes that are no text do not end the list",
         true,
         {{"a", "Rock & Roll &&"}, {"b", "Caf\xE9 \xFF"}, {"c", ""}},
         "b",
         {"( ) Default output", "( ) Rock & Roll &&", "(x) Caf\uFFFD \uFFFD", "( ) c"}},
        {"a chosen output that went away",
         true,
         {kSpeakers},
         "usb-dac.analog-stereo",
         {"( ) Default output", "( ) Built-in Speakers",
          "(x) usb-dac.analog-stereo (not connected)"}},
        {"no choice offered",
         false,
         {kSpeakers},
         "",
         {"(x) Default output", "---", noServer1, noServer2}},
        {"no choice offered, one made before",
         false,
         {},
         "usb-headset.analog-stereo",
         {"( ) Default output", "(x) usb-headset.analog-stereo (not connected)", "---", noServer1,
          noServer2}},
    };
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int number : {1, 2}) {
            deck(number).offersChoice = c.offered;
            deck(number).devices = c.devices;
            deck(number).chosenOutput = c.current;
            QMenu* menu = openOn(number);
            ASSERT_NE(menu, nullptr);
            EXPECT_EQ(readMenu(menu), c.expected);
            menu->close();
            backToWindow();
        }
    }
}

TEST_F(DeckMenuTest, AnOutputThatWentAwayKeepsTheDescriptionItWasKnownBy) {
    deck2.offersChoice = true;
    deck2.devices = {kSpeakers, kPhones};
    show();
    choose(2, "Phones");
    deck2.devices = {kSpeakers};  // unplugged
    QMenu* menu = openOn(2);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(readMenu(menu),
              (std::vector<std::string>{"( ) Default output", "( ) Built-in Speakers",
                                        "(x) Phones (not connected)"}));
    // Leaving it for the default.
    itemNamed(menu, "Default output")->trigger();
    EXPECT_EQ(deck2.outputChoices, (std::vector<std::string>{kPhones.name, ""}));
    EXPECT_EQ(fileText(settingsFile()), "[Outputs]\nDeck2=\n");
}

TEST_F(DeckMenuTest, AChoiceGoesToTheDeckAndIsSavedAtOnce) {
    struct Case {
        const char* what;
        int deck;
        std::string before;  // the settings file; "-" for none
        std::string pick;
        std::string chosen;
        std::string after;  // "-" for none
    };
    const Case cases[] = {
        {"deck 1, no file yet", 1, "-", "Phones", kPhones.name,
         "[Outputs]\nDeck1=" + kPhones.name + "\n"},
        {"deck 2 beside the window's values", 2, "[System]\nWaveVolume=50\n", "Built-in Speakers",
         kSpeakers.name, "[System]\nWaveVolume=50\n[Outputs]\nDeck2=" + kSpeakers.name + "\n"},
        {"another output in place of the stored one", 1, "[Outputs]\nDeck1=x\nDeck2=y\n", "Phones",
         kPhones.name, "[Outputs]\nDeck1=" + kPhones.name + "\nDeck2=y\n"},
        {"the default where a choice was stored", 2, "[Outputs]\nDeck1=x\nDeck2=y\n",
         "Default output", "", "[Outputs]\nDeck1=x\nDeck2=\n"},
        {"the default where none was", 1, "-", "Default output", "", "-"},
        {"the default where only the other deck has one", 1, "[Outputs]\nDeck2=y\n",
         "Default output", "", "[Outputs]\nDeck2=y\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(settingsFile().c_str());
        if (c.before != "-") writeFile(settingsFile(), c.before);
        deck1 = FakeDeck{};
        deck2 = FakeDeck{};
        deck(c.deck).offersChoice = true;
        deck(c.deck).devices = {kSpeakers, kPhones};
        form.reset();
        show();
        // What the file gave each deck at start.
        const std::vector<std::string> given = deck(c.deck).outputChoices;
        const std::vector<std::string> otherGiven = deck(3 - c.deck).outputChoices;
        choose(c.deck, c.pick);
        std::vector<std::string> expected = given;
        expected.push_back(c.chosen);
        EXPECT_EQ(deck(c.deck).outputChoices, expected);
        EXPECT_EQ(deck(3 - c.deck).outputChoices, otherGiven);
        EXPECT_EQ(QFile::exists(QString::fromStdString(settingsFile())), c.after != "-");
        if (c.after != "-") {
            EXPECT_EQ(fileText(settingsFile()), c.after);
        }
        EXPECT_TRUE(errors.taken().empty());
    }
}

TEST_F(DeckMenuTest, ANewStartGivesEachDeckItsStoredChoiceBeforeTheWindowShows) {
    deck1.offersChoice = deck2.offersChoice = true;
    deck1.devices = deck2.devices = {kSpeakers, kPhones};
    show();
    choose(1, "Built-in Speakers");
    choose(2, "Phones");
    choose(2, "Default output");
    choose(2, "Phones");
    form.reset();

    for (int number : {1, 2}) deck(number) = FakeDeck{};
    make();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(deck1.outputChoices, std::vector<std::string>{kSpeakers.name});
    EXPECT_EQ(deck2.outputChoices, std::vector<std::string>{kPhones.name});
    form.reset();

    // An empty or missing key gives the deck nothing.
    writeFile(settingsFile(), "[Outputs]\nDeck1=\n");
    for (int number : {1, 2}) deck(number) = FakeDeck{};
    make();
    EXPECT_TRUE(deck1.outputChoices.empty());
    EXPECT_TRUE(deck2.outputChoices.empty());
}

TEST_F(DeckMenuTest, AnyNameComesBackByteForByteOrIsRefusedWithOneErrorLine) {
    // Junk, comments, other sections, CRLF line ends and no line end at the very end: none of
    // it may change.
    const std::string foreign =
        "\xEF\xBB\xBFjunk without equals\r\n; a comment\r\n"
        "[System]\r\nData-Path=/m\xE9/\r\n# more\r\n[Other]\r\nx = 1";
    struct Case {
        std::string name;
        bool kept;
    };
    const Case cases[] = {
        {"alsa_output.\"quoted\"", true},
        {"a=b=c", true},
        {"sink]x", true},
        {";semicolon", true},
        {"[leading bracket", true},
        {"#hash", true},
        {"non-UTF-8 \xE9\xFF\xC3", true},
        {"inner  blanks\tand tab", true},
        {"line\nbreak", false},
        {"carriage\rreturn", false},
        {" leading blank", false},
        {"trailing blank ", false},
        {"trailing tab\t", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int number : {1, 2}) {
            writeFile(settingsFile(), foreign);
            deck1 = FakeDeck{};
            deck2 = FakeDeck{};
            deck(number).offersChoice = true;
            deck(number).devices = {{c.name, "The output"}};
            form.reset();
            const size_t errorsBefore = errors.taken().size();
            show();
            choose(number, "The output");
            // The deck plays there for this run whatever the file can keep.
            EXPECT_EQ(deck(number).outputChoices, std::vector<std::string>{c.name});
            const std::vector<std::string> lines = errors.taken();
            const std::string key = "Deck" + std::to_string(number);
            if (c.kept) {
                EXPECT_EQ(lines.size(), errorsBefore);
                EXPECT_EQ(fileText(settingsFile()),
                          foreign + "\r\n[Outputs]\r\n" + key + "=" + c.name + "\r\n");
                form.reset();
                deck(number) = FakeDeck{};
                make();
                EXPECT_EQ(deck(number).outputChoices, std::vector<std::string>{c.name});
            } else {
                ASSERT_EQ(lines.size(), errorsBefore + 1);
                EXPECT_NE(lines.back().find("Deck " + std::to_string(number) + " output"),
                          std::string::npos)
                    << lines.back();
                EXPECT_EQ(lines.back().find('\n'), std::string::npos);
                EXPECT_EQ(fileText(settingsFile()), foreign);
            }
        }
    }
}

TEST_F(DeckMenuTest, AStoredChoiceIsReplacedInPlaceKeepingEveryOtherByte) {
    const std::string before =
        "; mine\r\n[outputs]\r\nDeck2 = keep me \r\ndeck1=old\r\n"
        "junk\r\n[System]\r\nMainVolume=3";
    writeFile(settingsFile(), before);
    deck1.offersChoice = true;
    deck1.devices = {kPhones};
    show();
    EXPECT_EQ(deck1.outputChoices, std::vector<std::string>{"old"});
    EXPECT_EQ(deck2.outputChoices, std::vector<std::string>{"keep me"});
    choose(1, "Phones");
    EXPECT_EQ(fileText(settingsFile()), "; mine\r\n[outputs]\r\nDeck2 = keep me \r\nDeck1=" +
                                            kPhones.name + "\r\njunk\r\n[System]\r\nMainVolume=3");
}

TEST_F(DeckMenuTest, SavesWhereTheSettingsGoOrSaysWhyNot) {
    const std::string beside = dir.filePath("beside.ini").toStdString();
    const std::string own = dir.filePath("config/velmor/velmor-mp3-player.ini").toStdString();
    writeFile(beside, "[Outputs]\nDeck1=" + kPhones.name + "\n");
    deck1.offersChoice = true;
    deck1.devices = {kSpeakers, kPhones};
    show(SettingsPaths(beside, own, true));
    EXPECT_EQ(deck1.outputChoices, std::vector<std::string>{kPhones.name});
    // The user's own file, in a directory made for it, takes the choice; the file the first
    // values came from stays as it was. Its choice is left even for the default, which the
    // next start must see.
    choose(1, "Default output");
    EXPECT_EQ(fileText(own), "[Outputs]\nDeck1=\n");
    EXPECT_EQ(fileText(beside), "[Outputs]\nDeck1=" + kPhones.name + "\n");
    EXPECT_TRUE(errors.taken().empty());

    // A save that fails is one line that names the deck; the deck plays there all the same.
    form.reset();
    deck2 = FakeDeck{};
    deck2.offersChoice = true;
    deck2.devices = {kSpeakers};
    show(SettingsPaths(dir.path().toStdString()));  // a directory, not a file
    choose(2, "Built-in Speakers");
    EXPECT_EQ(deck2.outputChoices, std::vector<std::string>{kSpeakers.name});
    const std::vector<std::string> lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Deck 2 output not saved: ", 0), 0u) << lines[0];
}
