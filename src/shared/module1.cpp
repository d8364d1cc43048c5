#include "shared/module1.h"

// Values are UTF-8 bytes passed through unchanged; no wide-character API is used.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // Debian's header keeps the template bodies behind this
// CSimpleIniA compares section and key names without case (CSimpleIniCaseA would not).
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace Module1 {

std::string settingsFilePathFor(const std::string& executablePath) {
    const fs::path exe(executablePath);
    return (exe.parent_path() / exe.stem()).string() + ".ini";
}

namespace {

void configure(CSimpleIniA& ini) {
    ini.SetUnicode(true);
    ini.SetSpaces(false);
    ini.SetMultiKey(false);
}

bool isRegularFile(const std::string& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

std::string errnoText() {
    return std::strerror(errno);
}

// Writes all of `text` to a fresh file beside `file`, then renames it over `file`.
bool replaceFile(const std::string& file, const std::string& text, std::string& error) {
    std::string tmp = file + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        error = "cannot create a file beside " + file + ": " + errnoText();
        return false;
    }
    fchmod(fd, 0644);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + tmp + ": " + errnoText();
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = "cannot write " + tmp + ": " + errnoText();
        ::unlink(tmp.c_str());
        return false;
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
        error = "cannot replace " + file + ": " + errnoText();
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

void ReadIniValue(const std::string& section, const std::string& key, const std::string& file,
                  std::string& value) {
    value.clear();
    if (!isRegularFile(file)) return;
    CSimpleIniA ini;
    configure(ini);
    if (ini.LoadFile(file.c_str()) < 0) return;
    value = ini.GetValue(section.c_str(), key.c_str(), "");
}

void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file, int16_t& status, std::string* error) {
    status = 0;
    std::string why;
    CSimpleIniA ini;
    configure(ini);
    std::error_code ec;
    // An existing file that cannot be read is left alone rather than replaced by one key.
    const bool exists = fs::exists(file, ec);
    if (exists && !isRegularFile(file)) {
        why = file + " is not a regular file";
    } else if (exists && ini.LoadFile(file.c_str()) < 0) {
        why = "cannot read " + file + ": " + errnoText();
    } else if (ini.SetValue(section.c_str(), key.c_str(), value.c_str()) < 0) {
        why = "cannot set " + key + " in " + file;
    } else {
        std::string text;
        if (ini.Save(text, false) < 0)
            why = "cannot format " + file;
        else if (replaceFile(file, text, why))
            status = 1;
    }
    if (error) *error = why;
}

void SplitPathAndName(std::string& PlaylistDir, std::string& CurrentFile) {
    const std::string path = PlaylistDir;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        PlaylistDir.clear();
        CurrentFile = path;
    } else {
        PlaylistDir = path.substr(0, slash + 1);
        CurrentFile = path.substr(slash + 1);
    }
}

}  // namespace Module1
