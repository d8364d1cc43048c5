#include "shared/module1.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "app/settings_conversions.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/write_protect.h"

namespace {

void spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
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
        {"50", 16384},
        {"100", 32767},
        {"0", 0},
        {"33", 10813},
        {"99", 32439},
        {"  42", 13762},
        {"\t\n42", 13762},
        {"42abc", 13762},
        {"abc", 0},
        {"", 0},
        {"-5", 0},
        {"250", 32767},
        {"49.5", 16384},
        {"48.5", 15728},
        {"50.5", 16384},
        // blanks inside a number are skipped, and an exponent continues it
        {"4 2", 13762},
        {"4\t2\n", 13762},
        {" - 5", 0},
        {"5e1", 16384},
        {"2.5E1", 8192},
        {"1d2", 32767},
        {"5e", 1638},
        {"5e+", 1638},
        {"5e-1", 0},
        {"1e400", 32767},
        {"e5", 0},
        {".5e2", 16384},
        {"4.5.6", 1311},
        {"--5", 0},
        {"\r42", 0},
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

// Each row: a file as found, one key written, the file as it must be afterwards - every byte
// outside that key's line kept.
TEST(IniEdit, ChangesOnlyTheLineOfTheKey) {
    using namespace std::string_literals;
    struct Case {
        std::string before, key, value, after;
    } cases[] = {
        // a NUL byte in a value
        {"[System]\nWaveVolume=5\nx=\0\n[Extra]\nk=v\n"s, "WaveVolume", "7",
         "[System]\nWaveVolume=7\nx=\0\n[Extra]\nk=v\n"s},
        // an unterminated section header opens no section
        {"[System]\nWaveVolume=5\n[Other\n", "WaveVolume", "7", "[System]\nWaveVolume=7\n[Other\n"},
        {"[System]\nWaveVolume=5\n[Other\n", "MainVolume", "3",
         "[System]\nWaveVolume=5\nMainVolume=3\n[Other\n"},
        // a line without "=", duplicate keys, a comment after the last key
        {"[System]\njust words\nWaveVolume=5\n", "WaveVolume", "7",
         "[System]\njust words\nWaveVolume=7\n"},
        {"[System]\nWaveVolume=1\nwavevolume=2\n", "WaveVolume", "7",
         "[System]\nWaveVolume=7\nwavevolume=2\n"},
        {"[System]\nWaveVolume=5\n; the end\n", "MainVolume", "3",
         "[System]\nWaveVolume=5\nMainVolume=3\n; the end\n"},
        // a section after a line of binary junk
        {"[System]\nWaveVolume=5\n\x01\xFF\xFE\x80 junk\n[Extra]\nk=v\n", "MainVolume", "3",
         "[System]\nWaveVolume=5\nMainVolume=3\n\x01\xFF\xFE\x80 junk\n[Extra]\nk=v\n"},
        // a byte-order mark and CRLF line ends
        {"\xEF\xBB\xBF[System]\r\nWaveVolume=5\r\n", "WaveVolume", "7",
         "\xEF\xBB\xBF[System]\r\nWaveVolume=7\r\n"},
        {"\xEF\xBB\xBF[System]\r\n", "MainVolume", "3", "\xEF\xBB\xBF[System]\r\nMainVolume=3\r\n"},
        {"[Extra]\r\nk=v\r\n[System]\r\nWaveVolume=5\r\n\r\n[Last]\r\n", "MainVolume", "3",
         "[Extra]\r\nk=v\r\n[System]\r\nWaveVolume=5\r\nMainVolume=3\r\n\r\n[Last]\r\n"},
        // names without case, blanks around them; the first section of a name counts
        {"[ system ]\n  WAVEVOLUME = 5 \n", "WaveVolume", "7", "[ system ]\nWaveVolume=7\n"},
        {"[System]\nA=1\n[SYSTEM]\nWaveVolume=5\n", "WaveVolume", "7",
         "[System]\nA=1\nWaveVolume=7\n[SYSTEM]\nWaveVolume=5\n"},
        // a missing section goes at the end, after a last line without its line end
        {"[Other]\nk=v", "WaveVolume", "7", "[Other]\nk=v\n[System]\nWaveVolume=7\n"},
        {"", "Data-Path", "", "[System]\nData-Path=\n"},
        // a commented key is no key
        {"[System]\n;WaveVolume=9\n", "WaveVolume", "7", "[System]\nWaveVolume=7\n;WaveVolume=9\n"},
        // a directory that is not UTF-8 is stored as its bytes
        {"[System]\nData-Path=/old/\n", "Data-Path", "/m\xF6sik/",
         "[System]\nData-Path=/m\xF6sik/\n"},
    };
    TempDir dir;
    const std::string file = dir.file("velmor-mp3-player.ini");
    for (const auto& c : cases) {
        spit(file, c.before);
        int16_t status = 0;
        std::string why;
        Module1::WriteIniValue("System", c.key, c.value, file, status, &why);
        EXPECT_NE(status, 0) << why;
        EXPECT_EQ(fileText(file), c.after) << c.before;
        std::string value;
        Module1::ReadIniValue("System", c.key, file, value);
        EXPECT_EQ(value, c.value) << c.before;
    }
}

TEST(IniEdit, ReadsTheFirstKeyOfTheFirstSection) {
    using namespace std::string_literals;
    struct Case {
        std::string text, value;
    } cases[] = {
        {"\xEF\xBB\xBF[System]\nWaveVolume=5\n", "5"},
        {"[System]\r\nWaveVolume = 5 \r\n", "5"},
        {"\0\xFF\n[System]\nx=\0\nWaveVolume=5\nWaveVolume=6\n"s, "5"},
        {"[System]\nA=1\n[System]\nWaveVolume=5\n", ""},
        {"[System\nWaveVolume=5\n", ""},
        {"WaveVolume=5\n[System]\n", ""},
        {"[System]\n#WaveVolume=5\n", ""},
        {"[System]\nWaveVolume=a=b\n", "a=b"},
        {"[System]\nWaveVolume=5", "5"},
    };
    TempDir dir;
    const std::string file = dir.file("velmor-mp3-player.ini");
    for (const auto& c : cases) {
        spit(file, c.text);
        std::string value = "unset";
        Module1::ReadIniValue("System", "WaveVolume", file, value);
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(IniEdit, RefusesWhatCouldNotBeReadBack) {
    TempDir dir;
    const std::string file = dir.file("velmor-mp3-player.ini");
    const std::string before = "[System]\nData-Path=/old/\n";
    for (const char* value : {"/a\nb/", "/a\rb/", " /lead/", "/trail/ "}) {
        spit(file, before);
        int16_t status = 1;
        std::string why;
        Module1::WriteIniValue("System", "Data-Path", value, file, status, &why);
        EXPECT_EQ(status, 0) << value;
        EXPECT_NE(why.find("Data-Path"), std::string::npos) << why;
        EXPECT_EQ(fileText(file), before) << value;
    }
}

namespace {

struct stat statOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool writeKey(const std::string& file, const std::string& key, const std::string& value,
              std::string* why = nullptr) {
    int16_t status = 0;
    Module1::WriteIniValue("System", key, value, file, status, why);
    return status != 0;
}

}  // namespace

// Each row: the settings file's surroundings as found, and what must hold after a save.
TEST(IniFileKeeping, KeepsTheFileWhereAndAsItIs) {
    struct Case {
        const char* what;
        std::function<void(const TempDir&)> before;
        std::function<void(const TempDir&)> after;
    } cases[] = {
        {"a link is written through to its target",
         [](const TempDir& d) {
             std::filesystem::create_directory(d.file("real"));
             spit(d.file("real/settings.ini"), "[System]\nWaveVolume=5\n");
             std::filesystem::create_symlink("real/settings.ini", d.file("velmor-mp3-player.ini"));
         },
         [](const TempDir& d) {
             EXPECT_TRUE(S_ISLNK(statOf(d.file("velmor-mp3-player.ini")).st_mode));
             EXPECT_EQ(fileText(d.file("real/settings.ini")), "[System]\nWaveVolume=7\n");
             EXPECT_EQ(namesIn(d.file("real")), std::vector<std::string>{"settings.ini"});
         }},
        {"a dangling link creates its target",
         [](const TempDir& d) {
             std::filesystem::create_symlink(d.file("target.ini"), d.file("velmor-mp3-player.ini"));
         },
         [](const TempDir& d) {
             EXPECT_TRUE(S_ISLNK(statOf(d.file("velmor-mp3-player.ini")).st_mode));
             EXPECT_EQ(fileText(d.file("target.ini")), "[System]\nWaveVolume=7\n");
         }},
        {"the mode stays, and the owner (another user's where we are root)",
         [](const TempDir& d) {
             spit(d.file("velmor-mp3-player.ini"), "[System]\nWaveVolume=5\n");
             ::chmod(d.file("velmor-mp3-player.ini").c_str(), 0600);
             if (::geteuid() == 0) {
                 EXPECT_EQ(::chown(d.file("velmor-mp3-player.ini").c_str(), 12345, 23456), 0);
             }
         },
         [](const TempDir& d) {
             const struct stat st = statOf(d.file("velmor-mp3-player.ini"));
             EXPECT_EQ(st.st_mode & 07777, 0600u);
             EXPECT_EQ(st.st_uid, ::geteuid() == 0 ? 12345u : ::geteuid());
             EXPECT_EQ(st.st_gid, ::geteuid() == 0 ? 23456u : ::getegid());
             EXPECT_EQ(fileText(d.file("velmor-mp3-player.ini")), "[System]\nWaveVolume=7\n");
         }},
        {"temporary files an interrupted save left are removed, others kept",
         [](const TempDir& d) {
             spit(d.file("velmor-mp3-player.ini"), "[System]\nWaveVolume=5\n");
             for (const char* name :
                  {"velmor-mp3-player.ini.tmp-a1B2c3", "velmor-mp3-player.ini.tmp-ZZZZZZ",
                   "velmor-mp3-player.ini.backup", "velmor-mp3-player.ini.tmp-abc",
                   "other.ini.tmp-a1B2c3"})
                 spit(d.file(name), "x");
         },
         [](const TempDir& d) {
             EXPECT_EQ(namesIn(d.path()),
                       (std::vector<std::string>{"other.ini.tmp-a1B2c3", "velmor-mp3-player.ini",
                                                 "velmor-mp3-player.ini.backup",
                                                 "velmor-mp3-player.ini.tmp-abc"}));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        c.before(dir);
        std::string why;
        EXPECT_TRUE(writeKey(dir.file("velmor-mp3-player.ini"), "WaveVolume", "7", &why)) << why;
        c.after(dir);
    }
}

TEST(IniFileKeeping, ADirectoryClosedToNewFilesStillTakesTheFileInPlace) {
    TempDir dir;
    const std::string file = dir.file("velmor-mp3-player.ini");
    spit(file, "[System]\nWaveVolume=5\nMainVolume=1\n");
    WriteProtect closed(dir.path());
    if (!closed.active()) GTEST_SKIP() << "cannot close " << dir.path();
    std::string why;
    EXPECT_TRUE(writeKey(file, "WaveVolume", "100", &why)) << why;
    EXPECT_TRUE(writeKey(file, "MainVolume", "", &why)) << why;
    EXPECT_TRUE(writeKey(file, "Data-Path", "/music/", &why)) << why;
    EXPECT_EQ(fileText(file), "[System]\nWaveVolume=100\nMainVolume=\nData-Path=/music/\n");
}

// A disk that fills half-way through a save: the old bytes stay, and no temporary file.
TEST(IniFileKeeping, AFullDiskLeavesTheFileAsItWas) {
    const std::string before = "[System]\nWaveVolume=5\n" + std::string(3000, ';') + "\n";
    for (bool closedDirectory : {false, true}) {
        SCOPED_TRACE(closedDirectory ? "written in place" : "replaced");
        TempDir dir;
        const std::string file = dir.file("velmor-mp3-player.ini");
        spit(file, before);
        std::optional<WriteProtect> closed;
        if (closedDirectory && !closed.emplace(dir.path()).active())
            GTEST_SKIP() << "cannot close " << dir.path();
        struct rlimit old;
        ::getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = before.size() + 10;  // room for the old file, not the new one
        auto* previous = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
        std::string why;
        const bool saved = writeKey(file, "Data-Path", std::string(200, 'd') + "/", &why);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        EXPECT_FALSE(saved);
        EXPECT_NE(why.find("too large"), std::string::npos) << why;
        EXPECT_EQ(fileText(file), before);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"velmor-mp3-player.ini"});
    }
}

// Saves killed at random moments: the file always holds one whole version, and the next save
// clears what the killed ones left.
TEST(IniFileKeeping, KilledSavesLeaveAWholeFileAndNoLitterAfterTheNextSave) {
    TempDir dir;
    const std::string file = dir.file("velmor-mp3-player.ini");
    const std::string big = "/" + std::string(200000, 'm') + "/";
    spit(file, "[System]\nWaveVolume=5\n");
    for (int kill = 0; kill < 20; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) writeKey(file, "Data-Path", big + std::to_string(i % 2));
        }
        ::usleep(1000 + 997 * kill % 5000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::string value;
        Module1::ReadIniValue("System", "WaveVolume", file, value);
        ASSERT_EQ(value, "5");
    }
    ASSERT_TRUE(writeKey(file, "WaveVolume", "6"));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"velmor-mp3-player.ini"});
}
