#include "app/resume_settings.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>

#include "app/settings_writer.h"
#include "doubles/recording_error_sink.h"
#include "shared/ini_lines.h"
#include "support/file_text.h"

namespace {

constexpr std::chrono::milliseconds kGuard{10000};  // against a hang only

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ResumeSettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    RecordingErrorSink errors;
    SettingsWriter writer{errors};

    std::string file() const { return dir.filePath("velmor-mp3-player.ini").toStdString(); }
    void flush() { ASSERT_TRUE(writer.flush(kGuard).empty()); }
};

struct Situation {
    const char* name;
    ResumePoint point;
};

void PrintTo(const Situation& s, std::ostream* out) {
    *out << s.name;
}

class StoredSituation : public ResumeSettingsTest,
                        public ::testing::WithParamInterface<Situation> {};

TEST_P(StoredSituation, ComesBackAsItWasStored) {
    writeFile(file(), "[System]\nData-Path=/music/\n");
    ResumeSettings settings(file(), writer);
    settings.storePoint(GetParam().point);
    flush();
    EXPECT_EQ(ResumeSettings(file(), writer).storedPoint(), GetParam().point);
    EXPECT_TRUE(errors.taken().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Decks, StoredSituation,
    ::testing::Values(
        Situation{"PlaylistAndDeck2",
                  {"/music/rock/", "03 third.mp3", "", 20.0, true, "/music/jazz/b.mp3", 10.25}},
        Situation{"PausedPlaylistDeck2Empty", {"/music/rock/", "1 a.mp3", "", 93.5, false, "", 0}},
        Situation{"SingleFile", {"", "", "/tmp/one.mp3", 1.125, true, "/tmp/two.mp3", 0}},
        Situation{"Nothing", {}},
        Situation{"OnlyDeck2", {"", "", "", 0, false, "/x/y.mp3", 61.001}},
        Situation{"NamesKeepTheirBytes",
                  {"/m\xF6sik/\xFF/", "b\xE4nd.mp3", "", 5, true, "/caf\xE9.mp3", 7}}),
    [](const auto& info) { return std::string(info.param.name); });

// What a hand, a crash of another program or an old version left in the file reads as a point
// that cannot mislead: no deck, or position 0.
TEST_F(ResumeSettingsTest, WhatIsNotAPointsValueReadsAsNothing) {
    struct Case {
        const char* section;
        ResumePoint expected;
    };
    const Case cases[] = {
        {"Deck1Folder=/m/\nDeck1Entry=a.mp3\nDeck1Position=abc\nDeck1Played=1\n",
         {"/m/", "a.mp3", "", 0, false, "", 0}},
        {"Deck1Folder=/m\nDeck1Entry=a.mp3\nDeck1Position=-5\nDeck1Played=Yes\n",
         {"/m/", "a.mp3", "", 0, true, "", 0}},
        {"Deck1Folder=m/\nDeck1Entry=a.mp3\nDeck1Position=3\n", {}},
        {"Deck1Folder=/m/\nDeck1Entry=sub/a.mp3\nDeck1Position=3\n", {}},
        {"Deck1Folder=/m/\nDeck1Position=3\n", {}},
        {"Deck1File=a.mp3\nDeck1Position=3\n", {}},
        {"Deck1File=/a.mp3\nDeck1Position=20.5 s\n", {"", "", "/a.mp3", 0, false, "", 0}},
        {"Deck1File=/a.mp3\nDeck1Position=nan\n", {"", "", "/a.mp3", 0, false, "", 0}},
        {"Deck1File=/a.mp3\nDeck1Position=inf\n", {"", "", "/a.mp3", 0, false, "", 0}},
        {"Deck1File=/a.mp3\nDeck1Position=1e3\n", {"", "", "/a.mp3", 0, false, "", 0}},
        {"Deck1File=/a.mp3\nDeck1Position=+4\n", {"", "", "/a.mp3", 0, false, "", 0}},
        {"Deck1File=/a.mp3\nDeck1Position=12.75\n", {"", "", "/a.mp3", 12.75, false, "", 0}},
        {"Deck2File=b.mp3\nDeck2Position=4\n", {}},
        {"Deck2File=/b.mp3\nDeck2Position=\n", {"", "", "", 0, false, "/b.mp3", 0}},
        {"Deck2Position=4\nDeck1Position=9\n", {}},
    };
    for (const Case& c : cases) {
        writeFile(file(), std::string("[Resume]\n") + c.section);
        EXPECT_EQ(ResumeSettings(file(), writer).storedPoint(), c.expected) << c.section;
    }
}

TEST_F(ResumeSettingsTest, OnlyAChoicesOwnNameChoosesIt) {
    const std::pair<const char*, AtStart> cases[] = {
        {"Paused", AtStart::ResumePaused},
        {"Playing", AtStart::ResumePlaying},
        {"Fresh", AtStart::Fresh},
        {"paused", AtStart::Fresh},
        {"Playing now", AtStart::Fresh},
        {"", AtStart::Fresh},
        {"1", AtStart::Fresh},
    };
    for (const auto& [text, expected] : cases) {
        writeFile(file(), std::string("[Resume]\nAtStart=") + text + "\n");
        EXPECT_EQ(ResumeSettings(file(), writer).atStart(), expected) << text;
    }
    std::remove(file().c_str());
    EXPECT_EQ(ResumeSettings(file(), writer).atStart(), AtStart::Fresh);  // off until chosen
}

TEST_F(ResumeSettingsTest, AFileThatNeverHeldTheSectionGetsItAppendedWithEveryOtherByteKept) {
    // A byte-order mark, a comment, CRLF ends, a byte that is not UTF-8, no end on the last line.
    const std::string old =
        "\xEF\xBB\xBF; mine\r\n[System]\r\nData-Path=/m\xF6sik/\r\nWaveVolume=3\r\nOther=1";
    writeFile(file(), old);
    ResumeSettings settings(file(), writer);
    const ResumePoint point{"/music/", "a.mp3", "", 20, true, "/b.mp3", 10};
    settings.storePoint(point);
    flush();
    const std::string text = fileText(file());
    ASSERT_GT(text.size(), old.size());
    EXPECT_EQ(text.substr(0, old.size()), old);
    EXPECT_EQ(text.find("[Resume]"), text.rfind("[Resume]"));
    EXPECT_GT(text.find("[Resume]"), old.size());
    EXPECT_EQ(settings.storedPoint(), point);
    EXPECT_EQ(IniLines::valueOf(text, "System", "Other"), "1");
}

TEST_F(ResumeSettingsTest, APointReplacesTheOneBeforeWholeAndLeavesTheChoice) {
    writeFile(file(), "[Resume]\nAtStart=Playing\nDeck1File=/old.mp3\nDeck1Position=5.000\n");
    ResumeSettings settings(file(), writer);
    const ResumePoint point{"/music/", "a.mp3", "", 1, false, "", 0};
    settings.storePoint(point);
    flush();
    EXPECT_EQ(settings.storedPoint(), point);  // the old single file is gone, not kept beside
    EXPECT_EQ(ResumeSettings(file(), writer).atStart(), AtStart::ResumePlaying);
}

TEST_F(ResumeSettingsTest, FreshTouchesAFileThatNeverHeldAChoiceNotAtAll) {
    const std::string old = "[System]\nData-Path=/x/\n";
    writeFile(file(), old);
    ResumeSettings settings(file(), writer);
    settings.choose(AtStart::Fresh);
    flush();
    EXPECT_EQ(fileText(file()), old);

    settings.choose(AtStart::ResumePaused);
    flush();
    EXPECT_EQ(ResumeSettings(file(), writer).atStart(), AtStart::ResumePaused);
    settings.choose(AtStart::Fresh);  // a choice stored before is undone on the file
    flush();
    EXPECT_EQ(ResumeSettings(file(), writer).atStart(), AtStart::Fresh);
    EXPECT_EQ(IniLines::valueOf(fileText(file()), "Resume", "AtStart"), "Fresh");
}

TEST_F(ResumeSettingsTest, APointThatCannotBeStoredIsReportedAndLeavesTheFileAsItWas) {
    const std::string old = "[Resume]\nAtStart=Paused\nDeck1File=/old.mp3\n";
    writeFile(file(), old);
    ResumeSettings settings(file(), writer);
    // A line break in a name cannot be kept in a line of the file: not half the point either.
    settings.storePoint({"", "", "/new\nname.mp3", 3, true, "/b.mp3", 4});
    writer.flush(kGuard);
    EXPECT_EQ(fileText(file()), old);
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_NE(errors.taken()[0].find("Where the decks were not saved"), std::string::npos)
        << errors.taken()[0];
}

}  // namespace
