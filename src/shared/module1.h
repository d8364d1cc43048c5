#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The settings file and the path splitter.
namespace Module1 {

// "<directory of the executable>/<executable name without extension>.ini"
std::string settingsFilePathFor(const std::string& executablePath);

// Value of key in the first section of that name in file (names compared without case), ""
// when the file or the key is missing. The value is the line's bytes, blanks around it cut.
void ReadIniValue(const std::string& section, const std::string& key, const std::string& file,
                  std::string& value);

// Whether file holds key in that section, an empty value included.
bool HasIniKey(const std::string& section, const std::string& key, const std::string& file);

// Writes key=value by changing that key's line only (or adding it to its section, or the
// section to the file); every other byte and the file's line ends stay. The file is replaced
// as a whole (see SafeFile::replace) and keeps its links, mode and owner. status: 0 on
// failure, the file then unchanged; why it failed goes to `error`.
void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file, int16_t& status, std::string* error = nullptr);

// The same for several keys of one section in one replacement of the file: it holds either all
// of them or none.
void WriteIniValues(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values,
                    const std::string& file, int16_t& status, std::string* error = nullptr);

// Cuts PlaylistDir after its last '/': the directory stays in PlaylistDir, the rest goes to
// CurrentFile.
void SplitPathAndName(std::string& PlaylistDir, std::string& CurrentFile);

}  // namespace Module1
