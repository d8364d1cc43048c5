#pragma once

#include <string>
#include <vector>

// The MP3 files of a directory: regular files (or links to them) whose names end in ".mp3" in
// any letter case, in natural, case-insensitive order ("2 song" before "10 song").
// On a directory that cannot be read, gives nothing and says why in `error`.
std::vector<std::string> listMp3Files(const std::string& dir, std::string& error);

// The same names in the order the directory yields them.
std::vector<std::string> readMp3Names(const std::string& dir, std::string& error);

// Whether a name ends in ".mp3", in any letter case.
bool hasMp3Extension(const char* name);

// The order of the listing, on names alone.
void sortNaturally(std::vector<std::string>& names);
