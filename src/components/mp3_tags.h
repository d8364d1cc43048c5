#pragma once

#include <string>

// What an MP3 file's ID3 tags say about it, as UTF-8; empty where a tag or field is missing.
struct Mp3Tags {
    std::string title;
    std::string artist;
    std::string album;
};

// Reads the ID3v2 tag, field by field falling back to ID3v1, through libmpg123's own ID3
// support. Reads the file's start and its last 128 bytes; a file that cannot be read, or is
// not a regular file, gives no tags. Any thread: the handle is the call's own. A disk that
// does not answer holds the caller, so the window's thread never calls it.
Mp3Tags readMp3Tags(const std::string& path);
