#include "shared/module1.h"

#include <filesystem>

#include "shared/ini_lines.h"
#include "shared/safe_file.h"

namespace fs = std::filesystem;

namespace Module1 {

std::string settingsFilePathFor(const std::string& executablePath) {
    const fs::path exe(executablePath);
    return (exe.parent_path() / exe.stem()).string() + ".ini";
}

namespace {

bool isRegularFile(const std::string& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

}  // namespace

void ReadIniValue(const std::string& section, const std::string& key, const std::string& file,
                  std::string& value) {
    value.clear();
    std::string text, ignored;
    if (!isRegularFile(file) || !SafeFile::readAll(file, text, ignored)) return;
    value = IniLines::valueOf(text, section, key).value_or("");
}

bool HasIniKey(const std::string& section, const std::string& key, const std::string& file) {
    std::string text, ignored;
    return isRegularFile(file) && SafeFile::readAll(file, text, ignored) &&
           IniLines::valueOf(text, section, key).has_value();
}

void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file, int16_t& status, std::string* error) {
    WriteIniValues(section, {{key, value}}, file, status, error);
}

void WriteIniValues(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values,
                    const std::string& file, int16_t& status, std::string* error) {
    status = 0;
    std::string why;
    for (const auto& [key, value] : values) {
        why = IniLines::whyUnstorable(section, key, value);
        if (!why.empty()) {
            why = "cannot store " + key + " in " + file + ": " + why;
            break;
        }
    }
    std::error_code ec;
    const bool exists = fs::exists(file, ec);
    std::string old;
    if (!why.empty()) {
        // Not one of them is written: the keys belong together.
    } else if (exists && !isRegularFile(file)) {
        why = file + " is not a regular file";
    } else if (exists && !SafeFile::readAll(file, old, why)) {
        // A file that cannot be read is left alone rather than replaced by these keys.
    } else {
        std::string text = old;
        for (const auto& [key, value] : values)
            text = IniLines::withValue(text, section, key, value);
        if (exists && text == old) {
            SafeFile::removeStaleTemporaries(file);
            status = 1;
        } else if (SafeFile::replace(file, text, why)) {
            status = 1;
        }
    }
    if (error) *error = status ? std::string() : why;
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
