#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

// The MP3 files of a directory: regular files (or links to them) whose names end in ".mp3" in
// any letter case, in the order the directory yields them. On a directory that cannot be
// read, gives nothing and says why in `error`. `entriesRead`, when given, counts the entries
// as they come, for a thread that watches the listing go on.
std::vector<std::string> readMp3Names(const std::string& dir, std::string& error,
                                      std::atomic<std::size_t>* entriesRead = nullptr);

// Whether a name ends in ".mp3", in any letter case.
bool hasMp3Extension(const char* name);

// The order of the playlist: natural and case-insensitive ("2 song" before "10 song"), by the
// text shown, equal texts by their bytes.
void sortNaturally(std::vector<std::string>& names);

// How many of `sorted` (in that order) come before `name`: where `name` stands, or would.
size_t naturalPlace(const std::vector<std::string>& sorted, const std::string& name);

// The index of the name that order puts first, in one pass: on a big folder the first entry
// can play long before all are sorted. `names` is not empty.
size_t naturalFirst(const std::vector<std::string>& names);
