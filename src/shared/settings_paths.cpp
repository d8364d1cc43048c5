#include "shared/settings_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shared/module1.h"

namespace {

constexpr const char* kUserSettings = "/velmor-mp3-player/velmor-mp3-player.ini";
// What installing (cmake --install, the package) puts beside bin/: the desktop's record of the
// installed program.
constexpr const char* kInstalledMetainfo = "/share/metainfo/velmor-mp3-player.metainfo.xml";

bool writable(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An executable in the bin/ of a prefix it was installed to. Its directory is shared by every
// user (and writable by root), so a file there must never take anyone's saves.
bool installedInPrefix(const std::string& executablePath) {
    const std::string prefix = directoryOf(directoryOf(executablePath));
    return isRegularFile((prefix == "/" ? "" : prefix) + kInstalledMetainfo);
}

}  // namespace

SettingsPaths settingsPathsFor(const std::string& executablePath, const std::string& configHome) {
    const std::string beside = Module1::settingsFilePathFor(executablePath);
    const bool portable = !installedInPrefix(executablePath) &&
                          (exists(beside) ? isRegularFile(beside) && writable(beside)
                                          : writable(directoryOf(beside)));
    if (portable) return SettingsPaths(beside);
    const std::string user = configHome + kUserSettings;
    const bool useBeside = !exists(user) && isRegularFile(beside);
    return SettingsPaths(useBeside ? beside : user, user, true);
}

namespace {
// An XDG base directory: the variable when it is an absolute path, else `under` in the home.
std::string xdgHome(const char* variable, const char* home, const char* under) {
    if (variable && variable[0] == '/') return variable;
    std::string base = home && home[0] ? home : "";
    if (base.empty())
        if (const passwd* entry = ::getpwuid(::getuid())) base = entry->pw_dir;
    return base + under;
}
}  // namespace

std::string userConfigHome(const char* xdgConfigHome, const char* home) {
    return xdgHome(xdgConfigHome, home, "/.config");
}

std::string userCacheHome(const char* xdgCacheHome, const char* home) {
    return xdgHome(xdgCacheHome, home, "/.cache");
}

std::string runningExecutablePath() {
    std::string path(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return "";
        if (size_t(n) < path.size()) {
            path.resize(size_t(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool createParentDirectories(const std::string& file, std::string& error) {
    const std::string directory = directoryOf(file);
    for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}
