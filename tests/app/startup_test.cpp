#include "app/startup.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTreeWidget>

#include "support/form1_fixture.h"

TEST(StartupMath, ColumnWidthsShareTheListWidth) {
    struct Case {
        float width;
        std::array<float, 6> expected;
    } cases[] = {
        {2295, {573.75f, 191.25f, 286.875f, 382.5f, 286.875f, 286.875f}},
        {8000, {2000, 666.6667f, 1000, 1333.3334f, 1000, 1000}},
    };
    for (const auto& c : cases) {
        const auto widths = mixerColumnWidths(c.width);
        for (size_t i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(widths[i], c.expected[i]) << i;
    }
}

TEST(StartupMath, LevelToBarPosition) {
    struct Case {
        int32_t level;
        int position;
    } cases[] = {
        {65535, 0}, {0, 100},        {32768, 50},          {65536, 0},
        {70000, 0}, {-655350, 1100}, {-2147483647, 32767},
    };
    for (const auto& c : cases) EXPECT_EQ(levelToBarPosition(c.level), c.position) << c.level;
}

class FormLoad : public Form1Fixture {
protected:
    void SetUp() override {
        mixer.mixers = {"default", "HDA Intel"};
        mixer.lines = {{"Master", "Mst", "MasterVolume", 1, 2, 5, 65536},
                       {"PCM", "PCM", "WaveOutput", 2, 2, 6, 255}};
        mixer.levels = {{5, 65535}, {6, 32768}};
    }
};

TEST_F(FormLoad, CallsTheMixerInOrderWithReportsNested) {
    for (bool ready : {false, true}) {
        mixer.calls.clear();
        mixer.ready = ready;
        make();
        std::vector<std::string> expected = {"mixerReady"};
        if (!ready) expected.push_back("prepareMixer");
        for (const char* c :
             {"enumerationStep1", "  report mixer default", "  report mixer HDA Intel",
              "enumerationStep2", "  report line Master", "  report line PCM", "getLineLevel 5",
              "getLineLevel 6"})
            expected.push_back(c);
        EXPECT_EQ(mixer.calls, expected) << "ready=" << ready;
    }
}

TEST_F(FormLoad, LeavesTheWindowInItsInitialState) {
    make();
    EXPECT_EQ(state().playerState, PlayerState::Stopped);
    EXPECT_EQ(state().NextDeck, 2);
    EXPECT_EQ(text(ui().Label13), "0%");
    EXPECT_EQ(text(ui().Label12), "0%");
    EXPECT_EQ(text(ui().Label15), "00:00:00.000");
    EXPECT_EQ(text(ui().Label10), "00:00:00.000");
    EXPECT_EQ(text(ui().Label19), "");
    EXPECT_EQ(ui().VScroll1->value(), 0);   // master at 65535
    EXPECT_EQ(ui().VScroll2->value(), 50);  // wave at 32768
    EXPECT_EQ(state().MixerLevel, 32768);

    const QTreeWidget* list = ui().ListView1;
    ASSERT_EQ(list->columnCount(), 6);
    const char* headers[] = {"Device Name",  "Device ID",     "Device Type",
                             "Known Device", "Device Number", "Max Value"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(list->headerItem()->text(i).toStdString(), headers[i]);
    EXPECT_FALSE(list->isHeaderHidden());
    // Nothing is sent to the mixer by placing the bars.
    EXPECT_TRUE(mixer.set.empty());
}

TEST_F(FormLoad, UnreportedLinesReadDeviceZero) {
    mixer.lines.clear();
    make();
    EXPECT_EQ(mixer.calls.back(), "getLineLevel 0");
    EXPECT_EQ(ui().VScroll1->value(), 100);
    EXPECT_EQ(ui().VScroll2->value(), 100);
}
