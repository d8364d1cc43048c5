#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <fstream>
#include <functional>

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
    void show() {
        make();
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
