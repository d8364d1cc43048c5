// The settings reader and writer on arbitrary file content.
//
// Input: byte 0 chooses the key (bits 0-1), writing in place (bit 2), a disk with no room
// for more than the old file (bit 3), the file being a symbolic link (bit 4) and the section
// (bit 5); byte 1 is the length n of the value, the next n bytes are the value, and the rest
// is the file as found.
//
// What must hold: a write succeeds exactly when the value can be stored and the disk has room;
// a failed write leaves every byte of the file as it was; a successful one changes bytes only
// inside the written key's line, or adds whole lines and removes nothing; the key then reads
// back as written and no other key reads differently; the link, the file's mode and the
// directory's contents (no temporary file) stay.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "shared/ini_lines.h"
#include "shared/module1.h"
#include "shared/safe_file.h"

namespace fs = std::filesystem;

namespace {

constexpr mode_t kMode = 0640;
const char* const kKeys[] = {"Data-Path", "WaveVolume", "MainVolume", "k"};
const char* const kSections[] = {"System", "Extra"};

const std::string& workDirectory();

// abort() runs no exit handler: the work directory goes first.
[[noreturn]] void fail(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "settings_fuzz: %s %s\n", what, detail.c_str());
    std::error_code ec;
    fs::remove_all(workDirectory(), ec);
    std::abort();
}

void check(bool ok, const char* what, const std::string& detail = "") {
    if (!ok) fail(what, detail);
}

const std::string& workDirectory() {
    // Never destroyed: the exit handler that removes the directory still needs its name.
    static const std::string* const dir = [] {
        // Memory-backed where there is one: a sync there costs nothing.
        std::string pattern = (fs::exists("/dev/shm") ? std::string("/dev/shm")
                                                      : fs::temp_directory_path().string()) +
                              "/velmor-settings-fuzz.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("settings_fuzz: mkdtemp");
            std::abort();
        }
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(workDirectory(), ec);
        });
        signal(SIGXFSZ, SIG_IGN);  // the disk-full case: writes fail with EFBIG instead
        return new std::string(pattern);
    }();
    return *dir;
}

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::string fileBytes(const std::string& path) {
    std::string bytes, why;
    check(SafeFile::readAll(path, bytes, why), "cannot read back", why);
    return bytes;
}

// Written apart from the reader's own, so that a fault there shows here: in the "C" locale
// (a fuzzer never sets another) only ASCII letters fold, every other byte stays itself.
std::string folded(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    return folded(a) == folded(b);
}

// The text of the line that holds offset `at`, without its line end or a leading byte-order
// mark.
std::string_view lineAt(std::string_view text, size_t at) {
    const size_t begin = at == 0 ? 0 : text.rfind('\n', at - 1) + 1;  // npos + 1 == 0
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
        end = text.size();
    else if (end > begin && text[end - 1] == '\r')
        --end;
    std::string_view line = text.substr(begin, end - begin);
    if (begin == 0 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    return line;
}

std::string_view trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t\r\v\f");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\v\f") - first + 1);
}

// Bytes change only inside the key's line, or whole lines are added and none removed.
void checkOnlyTheKeysLineChanged(const std::string& old, const std::string& now,
                                 const std::string& key, const std::string& keyLine) {
    size_t prefix = 0;
    while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const std::string_view removed(old.data() + prefix, old.size() - prefix - suffix);
    const std::string_view added(now.data() + prefix, now.size() - prefix - suffix);
    if (removed.empty() && added.find('\n') != std::string_view::npos) {
        check(now.find(keyLine) != std::string::npos, "added lines lack the key", now);
        return;
    }
    check(
        removed.find('\n') == std::string_view::npos && added.find('\n') == std::string_view::npos,
        "a change reaches beyond one line", now);
    const std::string_view oldLine = lineAt(old, prefix);
    check(sameName(trimmed(trimmed(oldLine).substr(0, trimmed(oldLine).find('='))), key),
          "a line that is not the key's changed", std::string(oldLine));
    check(lineAt(now, prefix) == keyLine, "the key's line is not key=value", now);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const size_t valueLength = std::min<size_t>(data[1], size - 2);
    const std::string value(reinterpret_cast<const char*>(data) + 2, valueLength);
    const std::string old(reinterpret_cast<const char*>(data) + 2 + valueLength,
                          size - 2 - valueLength);
    const std::string key = kKeys[flags & 3];
    const bool inPlace = flags & 4, diskFull = flags & 8, linked = flags & 16;
    const std::string section = kSections[(flags >> 5) & 1];

    const std::string& dir = workDirectory();
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
    const std::string settings = dir + "/velmor-mp3-player.ini";
    std::string target = settings;
    if (linked) {
        fs::create_directory(dir + "/sub");
        target = dir + "/sub/real.ini";
        fs::create_symlink("sub/real.ini", settings);
    }
    std::ofstream(target, std::ios::binary) << old;
    ::chmod(target.c_str(), kMode);
    const std::set<std::string> namesBefore = namesIn(dir);

    const bool storable = IniLines::whyUnstorable(section, key, value).empty();
    const std::string edited = storable ? IniLines::withValue(old, section, key, value) : old;
    const bool expected = storable && (!diskFull || edited.size() <= old.size());

    struct rlimit unlimited;
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    if (diskFull) {
        struct rlimit room = unlimited;
        room.rlim_cur = old.size();
        ::setrlimit(RLIMIT_FSIZE, &room);
    }
    bool written = false;
    std::string why;
    if (inPlace) {
        written = storable && SafeFile::overwriteInPlace(settings, edited, why);
    } else {
        int16_t status = 0;
        Module1::WriteIniValue(section, key, value, settings, status, &why);
        written = status != 0;
    }
    ::setrlimit(RLIMIT_FSIZE, &unlimited);

    check(written == expected, written ? "a write succeeded that could not" : "a write failed",
          why);
    check(namesIn(dir) == namesBefore, "the directory changed");
    if (linked) {
        check(fs::is_symlink(settings), "the link was replaced");
        check(namesIn(dir + "/sub") == std::set<std::string>{"real.ini"},
              "the link's directory changed");
    }
    struct stat st;
    check(::stat(target.c_str(), &st) == 0 && (st.st_mode & 07777) == kMode, "the mode changed");
    const std::string now = fileBytes(settings);
    if (!written) {
        check(now == old, "a failed write changed the file");
        return 0;
    }
    check(now == edited, "the file is not what the edit gave");
    if (now != old) checkOnlyTheKeysLineChanged(old, now, key, key + "=" + value);

    std::string readBack;
    Module1::ReadIniValue(section, key, settings, readBack);
    check(readBack == value, "the key reads back otherwise", readBack);
    for (const char* otherSection : kSections)
        for (const char* otherKey : kKeys) {
            if (sameName(otherSection, section) && sameName(otherKey, key)) continue;
            check(IniLines::valueOf(old, otherSection, otherKey) ==
                      IniLines::valueOf(now, otherSection, otherKey),
                  "another key reads otherwise", otherKey);
        }
    return 0;
}
