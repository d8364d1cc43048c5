#include "app/settings_value_write.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "shared/module1.h"
#include "shared/safe_file.h"

namespace {

// The user's own file, where none is yet, as a copy of the file the start-up values came from.
bool startOwnFile(const SettingsPaths& files, std::string& error) {
    std::error_code ec;
    if (files.readFrom == files.writeTo || std::filesystem::exists(files.writeTo, ec) ||
        !std::filesystem::is_regular_file(files.readFrom, ec))
        return true;
    std::string text;
    return !SafeFile::readAll(files.readFrom, text, error) ||
           SafeFile::replace(files.writeTo, text, error);
}

}  // namespace

bool writeSettingsValue(const SettingsPaths& files, const std::string& section,
                        const std::string& key, const std::string& value, std::string& error) {
    return writeSettingsValues(files, section, {{key, value}}, error);
}

bool writeSettingsValues(const SettingsPaths& files, const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& values,
                         std::string& error) {
    if (files.createWriteDirectory && !createParentDirectories(files.writeTo, error)) return false;
    if (!startOwnFile(files, error)) return false;
    int16_t status = 0;
    Module1::WriteIniValues(section, values, files.writeTo, status, &error);
    return status != 0;
}
