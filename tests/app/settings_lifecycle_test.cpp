#include <gtest/gtest.h>

#include <QComboBox>
#include <QScrollBar>
#include <fstream>
#include <sstream>

#include "shared/module1.h"
#include "support/file_text.h"
#include "support/form1_fixture.h"

class Settings : public Form1Fixture {};

TEST_F(Settings, FirstActivationReadsTheFile) {
    std::ofstream(settingsFile()) << "[System]\nData-Path=/music/rock/\nWaveVolume=50\n"
                                     "MainVolume=33\n";
    make();
    form->Form_Activate();
    EXPECT_EQ(state().DataPath, "/music/rock/");
    EXPECT_EQ(ui().VScroll2->value(), 16384);
    EXPECT_EQ(ui().VScroll1->value(), 10813);
    EXPECT_EQ(ui().Combo1->currentText().toStdString(), "");
    EXPECT_TRUE(form->windowTitle().startsWith(QString::fromUtf8("Velmor´s MP3-Player")));
    EXPECT_TRUE(mixer.set.empty());  // placing the bars moves no mixer line
}

TEST_F(Settings, LaterActivationsDoNothing) {
    make();
    form->Form_Activate();
    std::ofstream(settingsFile()) << "[System]\nWaveVolume=100\n";
    form->setWindowTitle("changed");
    form->Form_Activate();
    EXPECT_EQ(ui().VScroll2->value(), 0);
    EXPECT_EQ(form->windowTitle().toStdString(), "changed");
}

TEST_F(Settings, FirstRunWithoutAFile) {
    make();
    form->Form_Activate();
    EXPECT_EQ(state().DataPath, "");
    EXPECT_EQ(ui().VScroll1->value(), 0);
    EXPECT_EQ(ui().VScroll2->value(), 0);

    bool ended = false;
    form->setOnUnloaded([&] { ended = true; });
    form->Form_Unload();
    EXPECT_TRUE(ended);
    EXPECT_EQ(fileText(settingsFile()), "[System]\nData-Path=\nWaveVolume=0\nMainVolume=0\n");
}

TEST_F(Settings, UnloadWritesTheThreeValuesAndStopsNoDeck) {
    std::ofstream(settingsFile()) << "; mine\n[System]\nData-Path=/old/\nWaveVolume=3\n"
                                     "MainVolume=99\nOther=1\n";
    make();
    form->Form_Activate();
    state().PlaylistDir = "/music/jazz/";
    form->Form_Unload();
    const std::string text = fileText(settingsFile());
    EXPECT_NE(text.find("Data-Path=/music/jazz/\n"), std::string::npos) << text;
    EXPECT_NE(text.find("WaveVolume=3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("MainVolume=99\n"), std::string::npos) << text;
    EXPECT_NE(text.find("; mine"), std::string::npos);
    EXPECT_NE(text.find("Other=1"), std::string::npos);
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_TRUE(deck2.calls.empty());
}

TEST_F(Settings, RunWithoutPlayDirKeepsTheStoredDirectory) {
    std::ofstream(settingsFile()) << "[System]\nData-Path=/music/old/\n";
    make();
    form->Form_Activate();
    form->Form_Unload();
    std::string value;
    Module1::ReadIniValue("System", "Data-Path", settingsFile(), value);
    EXPECT_EQ(value, "/music/old/");
}

TEST_F(Settings, FailedWriteIsReportedAndTheProgramStillEnds) {
    make();
    form->Form_Activate();
    dir.remove();  // the executable's directory is gone
    bool ended = false;
    form->setOnUnloaded([&] { ended = true; });
    form->Form_Unload();
    EXPECT_TRUE(ended);
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_NE(errors.taken()[0].find("Settings not saved"), std::string::npos);
}

TEST_F(Settings, ClosingTheWindowSavesAndEndsOnce) {
    make();
    form->show();
    int ended = 0;
    form->setOnUnloaded([&] { ++ended; });
    ui().VScroll1->setValue(16384);
    form->close();
    form->close();
    EXPECT_EQ(ended, 1);
    std::string value;
    Module1::ReadIniValue("System", "MainVolume", settingsFile(), value);
    EXPECT_EQ(value, "50");
}

TEST_F(Settings, AFileWithoutADirectoryGetsTheKeyEmpty) {
    std::ofstream(settingsFile()) << "[System]\nWaveVolume=3\n";
    make();
    form->Form_Activate();
    form->Form_Unload();
    EXPECT_EQ(fileText(settingsFile()), "[System]\nWaveVolume=3\nData-Path=\nMainVolume=0\n");
}

TEST_F(Settings, DirectoryNamesThatAreNotUtf8KeepTheirBytes) {
    std::ofstream(settingsFile()) << "[System]\nData-Path=/m\xF6sik/\n";
    make();
    form->Form_Activate();
    EXPECT_EQ(state().DataPath, "/m\xF6sik/");
    state().PlaylistDir = "/b\xE4nd/\xFF/";
    form->Form_Unload();
    EXPECT_EQ(fileText(settingsFile()),
              "[System]\nData-Path=/b\xE4nd/\xFF/\nWaveVolume=0\nMainVolume=0\n");
}
