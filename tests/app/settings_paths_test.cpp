#include "shared/settings_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QScrollBar>
#include <filesystem>
#include <fstream>
#include <optional>

#include "support/file_text.h"
#include "support/form1_fixture.h"
#include "support/temp_dir.h"
#include "support/write_protect.h"

TEST(SettingsPaths, UserConfigHome) {
    EXPECT_EQ(userConfigHome("/cfg", "/home/u"), "/cfg");
    EXPECT_EQ(userConfigHome(nullptr, "/home/u"), "/home/u/.config");
    EXPECT_EQ(userConfigHome("", "/home/u"), "/home/u/.config");
    EXPECT_EQ(userConfigHome("relative/cfg", "/home/u"), "/home/u/.config");
}

namespace {

// The executable's directory and the settings file beside it as a run finds them.
enum class Beside { Missing, Writable, WriteProtected };

}  // namespace

class SettingsPlace : public Form1Fixture {};

// A run with the executable in bin/: which file start-up reads, where the save lands, and
// that nothing lands where it may not. "installed" is a bin/ of a prefix the program was
// installed to, whoever runs it (root can write there).
TEST_F(SettingsPlace, BesideTheExecutableWhereItCanBeWrittenElseTheUsersFile) {
    struct Case {
        const char* what;
        bool installed;
        Beside beside;
        bool directoryClosed;
        bool userFileExists;
        const char* dataPathRead;  // the file beside holds /beside/, the user's /user/
        bool savedBeside;
    } cases[] = {
        {"portable copy, first run", false, Beside::Missing, false, false, "", true},
        {"portable copy with its file", false, Beside::Writable, false, true, "/beside/", true},
        {"file writable in a closed directory", false, Beside::Writable, true, false, "/beside/",
         true},
        {"closed directory, first run", false, Beside::Missing, true, false, "", false},
        {"closed directory, later runs", false, Beside::Missing, true, true, "/user/", false},
        {"a shipped default, first run", false, Beside::WriteProtected, true, false, "/beside/",
         false},
        {"a shipped default, later runs", false, Beside::WriteProtected, false, true, "/user/",
         false},
        {"installed, run by root", true, Beside::Missing, false, false, "", false},
        {"installed, root's file of an older run", true, Beside::Writable, false, false, "/beside/",
         false},
        {"installed, later runs beside root's file", true, Beside::Writable, false, true, "/user/",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir prefix, config;
        const std::string bin = prefix.file("bin");
        std::filesystem::create_directory(bin);
        if (c.installed) {
            std::filesystem::create_directories(prefix.file("share/metainfo"));
            std::ofstream(prefix.file("share/metainfo/velmor-mp3-player.metainfo.xml")) << "<x/>";
        }
        const std::string beside = bin + "/velmor-mp3-player.ini";
        const std::string user = config.file("velmor-mp3-player/velmor-mp3-player.ini");
        const std::string besideText = "[System]\nData-Path=/beside/\nWaveVolume=50\n";
        const std::string userText = "[System]\nData-Path=/user/\n";
        if (c.beside != Beside::Missing) std::ofstream(beside) << besideText;
        if (c.userFileExists) {
            std::filesystem::create_directory(config.file("velmor-mp3-player"));
            std::ofstream(user) << userText;
        }
        std::optional<WriteProtect> closedFile, closedDirectory;
        if (c.beside == Beside::WriteProtected && !closedFile.emplace(beside).active())
            GTEST_SKIP() << "cannot protect " << beside;
        if (c.directoryClosed && !closedDirectory.emplace(bin).active())
            GTEST_SKIP() << "cannot close " << bin;

        form = std::make_unique<Form1>(
            Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
            settingsPathsFor(bin + "/velmor-mp3-player", config.path()));
        form->Form_Activate();
        EXPECT_EQ(state().DataPath, c.dataPathRead);
        ui().VScroll1->setValue(32767);
        form->Form_Unload();
        EXPECT_TRUE(errors.taken().empty());

        std::string saved = fileText(c.savedBeside ? beside : user);
        EXPECT_NE(saved.find("MainVolume=100\n"), std::string::npos) << saved;
        EXPECT_NE(saved.find(std::string("Data-Path=") + c.dataPathRead + "\n"), std::string::npos)
            << saved;
        if (c.savedBeside) {
            EXPECT_EQ(fileText(user), c.userFileExists ? userText : "");
            EXPECT_EQ(std::filesystem::exists(config.file("velmor-mp3-player")), c.userFileExists);
        } else {
            struct stat st;
            ASSERT_EQ(::stat(config.file("velmor-mp3-player").c_str(), &st), 0);
            if (!c.userFileExists) {
                EXPECT_EQ(st.st_mode & 0777, 0700u);
            }
            EXPECT_EQ(fileText(beside), c.beside == Beside::Missing ? "" : besideText);
        }
        form.reset();
    }
}
