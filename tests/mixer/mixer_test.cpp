#include <gtest/gtest.h>

#include <QListWidget>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include "mixer/mixer_sliders.h"
#include "support/form1_fixture.h"
#include "support/scroll_drag.h"

TEST(MixerBars, LevelAndVolumeTables) {
    struct Level {
        int v, level;
    } levels[] = {{0, 99}, {327, 99}, {328, 98}, {16400, 49}, {32471, 1}, {32472, 0}, {32767, 0}};
    for (const auto& c : levels) EXPECT_EQ(mixerBarLevel(c.v), c.level) << c.v;

    struct Volume {
        int v, volume;
    } volumes[] = {{0, 0},         {326, 0},       {327, -1},       {3270, -100},
                   {16350, -2500}, {32699, -9801}, {32700, -10000}, {32767, -10000}};
    for (const auto& c : volumes) EXPECT_EQ(deckBarVolume(c.v), c.volume) << c.v;
}

class MixerDiscoveryTest : public Form1Fixture {};

TEST_F(MixerDiscoveryTest, FillsTheListsAndRemembersTheRoles) {
    mixer.mixers = {"default", "HDA Intel", "default"};
    mixer.lines = {
        {"Master", "", "MasterVolume", 0, 1, 1, 65536},
        {"PCM", "", "WaveOutput", -1, 2, 2, 255},
        {"Bass", "", "Bass", 3, 3, 3, 100},
        {"Bass 2", "", "Bass", 4, 4, 4, 100},
        {"Treble", "", "treble", 5, 5, 5, 100},        // letter case differs: no role
        {"Front", "", "MasterVolume ", 6, 6, 6, 100},  // extra blank: no role
    };
    make();
    ASSERT_EQ(ui().List1->count(), 3);
    EXPECT_EQ(ui().List1->item(2)->text(), "default");

    const QTreeWidget* list = ui().ListView1;
    ASSERT_EQ(list->topLevelItemCount(), 6);
    const QTreeWidgetItem* top = list->topLevelItem(0);
    EXPECT_EQ(top->text(0), "Front");  // the last reported is on top
    const QTreeWidgetItem* pcm = list->topLevelItem(4);
    const char* row[] = {"PCM", "-1", "2", "WaveOutput", "2", "255"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pcm->text(i).toStdString(), row[i]) << i;
    EXPECT_EQ(list->topLevelItem(5)->text(0), "Master");

    EXPECT_EQ(state().MasterVolumeDevice, 1);
    EXPECT_EQ(state().WaveOutputDevice, 2);
    EXPECT_EQ(state().BassDevice, 4);
    EXPECT_EQ(state().TrebleDevice, 0);
}

class MixerDrag : public Form1Fixture {
protected:
    void SetUp() override {
        mixer.lines = {{"Master", "", "MasterVolume", 0, 0, 7, 100},
                       {"PCM", "", "WaveOutput", 0, 0, 8, 100},
                       {"Bass", "", "Bass", 0, 0, 9, 100}};
        make();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void dragToBottom(QScrollBar* bar) { dragThumb(bar, 1.0); }
};

TEST_F(MixerDrag, DraggingSendsLevelsDownToZero) {
    dragToBottom(ui().VScroll1);
    ASSERT_GE(mixer.set.size(), 5u);
    for (const auto& [device, level] : mixer.set) EXPECT_EQ(device, 7);
    EXPECT_EQ(mixer.set.back().second, 0.0f);
    for (size_t i = 1; i < mixer.set.size(); ++i)
        EXPECT_LE(mixer.set[i].second, mixer.set[i - 1].second);

    mixer.set.clear();
    dragToBottom(ui().VScroll4);  // no treble line was reported: nothing is sent
    EXPECT_TRUE(mixer.set.empty());

    dragToBottom(ui().VScroll5);
    EXPECT_EQ(deck1.volume, -10000);
    dragToBottom(ui().VScroll6);
    EXPECT_EQ(deck2.volume, -10000);
}

// The mixer bars only: a deck's bar sets its deck's volume however it is moved (access_test).
TEST_F(MixerDrag, ArrowsTroughAndProgramValuesSendNothing) {
    for (QScrollBar* bar : {ui().VScroll1, ui().VScroll2, ui().VScroll3}) {
        bar->setValue(100);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 3));
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 30));
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    }
    EXPECT_TRUE(mixer.set.empty());
    EXPECT_TRUE(deck1.calls.empty());
}
