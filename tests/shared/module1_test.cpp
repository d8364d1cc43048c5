#include "shared/module1.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settings_conversions.h"
#include "support/file_text.h"

namespace {

void spit(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

}  // namespace

TEST(SplitPathAndName, CutsAfterTheLastSlash) {
    struct Case {
        std::string path, dir, file;
    } cases[] = {
        {"/home/u/Music/a.mp3", "/home/u/Music/", "a.mp3"},
        {"//server/share/a.mp3", "//server/share/", "a.mp3"},
        {"a.mp3", "", "a.mp3"},
        {"/home/u/Music/", "/home/u/Music/", ""},
        {"", "", ""},
        {"/a.mp3", "/", "a.mp3"},
        {"C:\\Music\\a.mp3", "", "C:\\Music\\a.mp3"},  // a backslash is an ordinary character
    };
    for (const auto& c : cases) {
        std::string dir = c.path, file = "previous";
        Module1::SplitPathAndName(dir, file);
        EXPECT_EQ(dir, c.dir) << c.path;
        EXPECT_EQ(file, c.file) << c.path;
    }
}

TEST(SettingsConversions, StoredTextToBarPosition) {
    struct Case {
        const char* text;
        int position;
    } cases[] = {
        {"50", 16384},   {"100", 32767},    {"0", 0},         {"33", 10813},   {"99", 32439},
        {"  42", 13762}, {"\t\n42", 13762}, {"42abc", 13762}, {"abc", 0},      {"", 0},
        {"-5", 0},       {"250", 32767},    {"49.5", 16384},  {"48.5", 15728}, {"50.5", 16384},
    };
    for (const auto& c : cases) EXPECT_EQ(storedVolumeToPosition(c.text), c.position) << c.text;
}

TEST(SettingsConversions, EveryStoredValueSurvivesARestart) {
    for (int s = 0; s <= 100; ++s) {
        const std::string text = std::to_string(s);
        const int position = storedVolumeToPosition(text);
        EXPECT_EQ(positionToStoredVolume(position), text);
        // ...and again, as the next run would.
        EXPECT_EQ(positionToStoredVolume(storedVolumeToPosition(positionToStoredVolume(position))),
                  text);
    }
    EXPECT_EQ(positionToStoredVolume(32767), "100");
    EXPECT_EQ(positionToStoredVolume(0), "0");
    EXPECT_EQ(positionToStoredVolume(164), "1");  // nearest, not rounded down
}

TEST(SettingsConversions, SettingsPathSitsBesideTheExecutable) {
    EXPECT_EQ(Module1::settingsFilePathFor("/opt/velmor/velmor-mp3-player"),
              "/opt/velmor/velmor-mp3-player.ini");
    EXPECT_EQ(Module1::settingsFilePathFor("/opt/velmor/player.bin"), "/opt/velmor/player.ini");
    EXPECT_EQ(Module1::settingsFilePathFor("/velmor-mp3-player"), "/velmor-mp3-player.ini");
}

class IniFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string file = dir.filePath("velmor-mp3-player.ini").toStdString();

    std::string read(const std::string& key) {
        std::string value = "unset";
        Module1::ReadIniValue("System", key, file, value);
        return value;
    }
    bool write(const std::string& key, const std::string& value, std::string* why = nullptr) {
        int16_t status = 0;
        Module1::WriteIniValue("System", key, value, file, status, why);
        return status != 0;
    }
};

TEST_F(IniFile, MissingFileOrKeyReadsEmpty) {
    EXPECT_EQ(read("Data-Path"), "");
    spit(file, "[System]\nWaveVolume=7\n");
    EXPECT_EQ(read("Data-Path"), "");
    EXPECT_EQ(read("wavevolume"), "7");  // names compare without case
}

TEST_F(IniFile, NewFileHasTheThreeKeysWithoutBlanks) {
    ASSERT_TRUE(write("Data-Path", "/music/"));
    ASSERT_TRUE(write("WaveVolume", "50"));
    ASSERT_TRUE(write("MainVolume", "3"));
    const std::string text = fileText(file);
    EXPECT_NE(text.find("[System]"), std::string::npos);
    EXPECT_NE(text.find("Data-Path=/music/\n"), std::string::npos);
    EXPECT_NE(text.find("WaveVolume=50\n"), std::string::npos);
    EXPECT_NE(text.find("MainVolume=3\n"), std::string::npos);
    EXPECT_LT(text.find("Data-Path"), text.find("WaveVolume"));
    EXPECT_LT(text.find("WaveVolume"), text.find("MainVolume"));
    EXPECT_EQ(text.find(" = "), std::string::npos);
}

TEST_F(IniFile, KeepsCommentsOtherKeysAndSections) {
    spit(file,
         "; my player\n[Other]\nkeep=1\n\n[System]\n; where the music is\nData-Path=/old/\n"
         "Extra=x y\n");
    ASSERT_TRUE(write("Data-Path", "/new/"));
    const std::string text = fileText(file);
    EXPECT_NE(text.find("; my player"), std::string::npos);
    EXPECT_NE(text.find("; where the music is"), std::string::npos);
    EXPECT_NE(text.find("keep=1"), std::string::npos);
    EXPECT_NE(text.find("Extra=x y"), std::string::npos);
    EXPECT_EQ(read("Data-Path"), "/new/");
    EXPECT_EQ(text.find("/old/"), std::string::npos);
}

TEST_F(IniFile, LongAndUnicodeValuesComeBackWhole) {
    const std::string longDir = "/" + std::string(400, 'd') + "/Musik für Velmor´s Abend/";
    ASSERT_TRUE(write("Data-Path", longDir));
    EXPECT_EQ(read("Data-Path"), longDir);
}

TEST_F(IniFile, FailedWriteIsReported) {
    file = dir.filePath("gone/velmor-mp3-player.ini").toStdString();
    std::string why;
    EXPECT_FALSE(write("Data-Path", "/new/", &why));
    EXPECT_NE(why.find("gone"), std::string::npos) << why;
}

TEST_F(IniFile, NoTemporaryFileIsLeftBehind) {
    ASSERT_TRUE(write("WaveVolume", "1"));
    ASSERT_TRUE(write("WaveVolume", "2"));
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path().toStdString())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(IniFile, DirectoryInPlaceOfTheFileReadsEmpty) {
    std::filesystem::create_directory(file);
    EXPECT_EQ(read("Data-Path"), "");
    EXPECT_FALSE(write("Data-Path", "/x/"));
}
