#pragma once

#include <string>
#include <vector>

class QListWidget;

// The playlist's entries in List4: each item shows its name as text and keeps the name's
// exact bytes as data, since the text of a name that is not valid in the file system's
// encoding no longer leads back to the file.
void fillPlaylist(QListWidget* list, const std::vector<std::string>& names);

// The bytes of entry `row`; "" when there is no such row.
std::string playlistEntry(const QListWidget* list, int row);

// The bytes of every entry, in the list's order.
std::vector<std::string> playlistEntries(const QListWidget* list);
