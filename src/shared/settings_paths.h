#pragma once

#include <string>

// Where the settings are read from and saved to. Mostly one file; the two differ when a file
// beside the executable that cannot be written gives the start-up values and the user's
// configuration directory takes the saves.
struct SettingsPaths {
    // One file for both, as tests and portable copies have it.
    SettingsPaths(std::string file) : readFrom(file), writeTo(std::move(file)) {}  // NOLINT
    SettingsPaths(std::string readFrom, std::string writeTo, bool createWriteDirectory)
        : readFrom(std::move(readFrom)),
          writeTo(std::move(writeTo)),
          createWriteDirectory(createWriteDirectory) {}

    std::string readFrom;
    std::string writeTo;
    bool createWriteDirectory = false;  // the user's directory, made by the first save
};

// The file beside the executable where it exists and can be written, or can be created, unless
// the executable was installed to a prefix (share/metainfo holds its metainfo);
// otherwise configHome/velmor-mp3-player/velmor-mp3-player.ini, read from the file beside the
// executable until the user's file exists.
SettingsPaths settingsPathsFor(const std::string& executablePath, const std::string& configHome);

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the password database's
// home when HOME is unset).
std::string userConfigHome(const char* xdgConfigHome, const char* home);
// $XDG_CACHE_HOME when it is an absolute path, else $HOME/.cache, found the same way.
std::string userCacheHome(const char* xdgCacheHome, const char* home);

// The running executable's path as the kernel gives it, bytes unchanged; "" when unknown.
std::string runningExecutablePath();

// Creates the directories above `file` that are missing, each open to its owner only.
bool createParentDirectories(const std::string& file, std::string& error);
