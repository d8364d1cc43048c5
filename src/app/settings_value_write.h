#pragma once

#include <string>
#include <utility>
#include <vector>

#include "shared/settings_paths.h"

// Settings writer thread only: it waits on the disk. Saves one value through the safe replace;
// the user's own file, where none is yet, begins as a copy of the file the start-up values came
// from, so that none of them is lost should the program end before it saves. False with the
// cause when it cannot.
bool writeSettingsValue(const SettingsPaths& files, const std::string& section,
                        const std::string& key, const std::string& value, std::string& error);

// The same for several keys of one section, in one replacement of the file: a reader finds all
// of them or none.
bool writeSettingsValues(const SettingsPaths& files, const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& values,
                         std::string& error);
