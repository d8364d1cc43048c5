#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

#include "engine/loudness/measured_loudness.h"

// A file as the cache knows it: a change of size or modification time is another file.
struct FileIdentity {
    std::string path;  // bytes, as the kernel takes them
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
};

// The identity of the regular file at `path` (links followed); absent when there is none.
std::optional<FileIdentity> identifyFile(const std::string& path);

// Measures kept between runs, the newest `capacity` of them, in a text file of their own. A
// file of any bytes is read safely: lines that cannot be read, or hold a measure no MP3 could
// give, are dropped, and the next save writes the file anew. A file that cannot be read at all
// (an error, not a regular file, larger than the cache ever writes) is never written over.
// One thread at a time; the constructor touches no file, the first lookup reads it, so the
// cache can be made on the UI thread and used on another.
class LoudnessCache {
public:
    static constexpr std::size_t kDefaultCapacity = 10000;

    // `file` "" keeps the measures in memory only.
    explicit LoudnessCache(std::string file, std::size_t capacity = kDefaultCapacity);

    std::optional<MeasuredLoudness> find(const FileIdentity& identity);
    // A path that could not be read back as it is (too long) is not kept.
    void store(const FileIdentity& identity, const MeasuredLoudness& measured);
    // Writes the measures through a safe replace when they changed, making the directories
    // that are missing (open to their owner only); false with a cause when it cannot, or when
    // the file could not be read (tried again here: the file may have come back).
    bool save(std::string& error);
    bool hasUnsavedChanges() const { return dirty; }
    std::size_t size() const { return entries.size(); }

    // The text the cache file holds for `entries`, and back; what the file format is.
    struct Entry {
        FileIdentity identity;
        MeasuredLoudness measured;
    };
    static std::string serialize(const std::list<Entry>& entries);
    static std::list<Entry> parse(const std::string& bytes);
    // The most bytes a cache of `capacity` writes, every path at its longest: a larger file is
    // not ours.
    static std::size_t largestFile(std::size_t capacity);

private:
    enum class State { Unread, Read, Unreadable };

    // Reads the file unless it was read; what it holds joins the measures taken meanwhile.
    bool load(std::string& error);
    void loadOnce();  // the first lookup's read; a failure waits for the next save
    void insert(Entry entry);

    std::string file;
    std::size_t capacity;
    State state = State::Unread;
    bool dirty = false;
    std::list<Entry> entries;  // oldest first
    std::unordered_map<std::string, std::list<Entry>::iterator> byPath;
};

// Where the measures are kept under a cache home.
std::string loudnessCacheFile(const std::string& cacheHome);
