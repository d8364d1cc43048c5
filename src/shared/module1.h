#pragma once

#include <cstdint>
#include <string>

// The settings file and the path splitter.
namespace Module1 {

// "<directory of the executable>/<executable name without extension>.ini"
std::string settingsFilePathFor(const std::string& executablePath);

// Value of key in section of file, "" when the file or the key is missing.
void ReadIniValue(const std::string& section, const std::string& key, const std::string& file,
                  std::string& value);

// Writes key=value, keeping every other section, key and comment. The file is written whole
// to a temporary file beside it and renamed over it. status: 0 on failure; why it failed
// goes to `error`.
void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file, int16_t& status, std::string* error = nullptr);

// Cuts PlaylistDir after its last '/': the directory stays in PlaylistDir, the rest goes to
// CurrentFile.
void SplitPathAndName(std::string& PlaylistDir, std::string& CurrentFile);

}  // namespace Module1
