// The measures kept between runs: what the file holds, what a file of any bytes gives, and
// where it lives.
#include "engine/loudness/loudness_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>

#include "shared/settings_paths.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace {

FileIdentity identity(const std::string& path, std::int64_t size = 1000,
                      std::int64_t modifiedNs = 1700000000123456789) {
    return {path, size, modifiedNs};
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const std::string kHeader = "velmor-mp3-player loudness 1\n";
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(LoudnessCache, AnyPathSurvivesTheFile) {
    TempDir dir;
    const std::string file = dir.file("cache");
    const std::vector<std::pair<const char*, std::string>> paths = {
        {"plain", "/music/a.mp3"},
        {"tab", "/music/a\tb.mp3"},
        {"newline", "/music/a\nb.mp3"},
        {"carriage return", "/music/a\rb.mp3"},
        {"percent", "/music/100%25 %.mp3"},
        {"not UTF-8", "/music/\xFF\xFE\x80.mp3"},
        {"UTF-8", "/music/\xC3\xA9t\xC3\xA9.mp3"},
        {"spaces", "/music/ a b .mp3"},
        {"relative", "a.mp3"},
        {"longest kept", "/" + std::string(4095, 'x')},
    };
    {
        LoudnessCache cache(file);
        double lufs = -10;
        for (const auto& [name, path] : paths) cache.store(identity(path), {lufs--, 0.5});
        std::string error;
        ASSERT_TRUE(cache.save(error)) << error;
    }
    LoudnessCache reread(file);
    double lufs = -10;
    for (const auto& [name, path] : paths) {
        SCOPED_TRACE(name);
        const auto found = reread.find(identity(path));
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(*found, (MeasuredLoudness{lufs--, 0.5}));
    }
}

TEST(LoudnessCache, WhatCannotBeKeptIsNot) {
    TempDir dir;
    LoudnessCache cache(dir.file("cache"));
    const std::vector<std::pair<const char*, FileIdentity>> refused = {
        {"too long", identity("/" + std::string(5000, 'x'))},
    };
    for (const auto& [name, id] : refused) {
        SCOPED_TRACE(name);
        cache.store(id, {-10, 0.5});
        EXPECT_FALSE(cache.find(id).has_value());
    }
    cache.store(identity("/nan.mp3"), {std::numeric_limits<double>::quiet_NaN(), 0.5});
    EXPECT_FALSE(cache.find(identity("/nan.mp3")).has_value());
    // Silence is a measure like any other.
    cache.store(identity("/silent.mp3"), {-std::numeric_limits<double>::infinity(), 0});
    std::string error;
    ASSERT_TRUE(cache.save(error)) << error;
    LoudnessCache reread(dir.file("cache"));
    const auto silent = reread.find(identity("/silent.mp3"));
    ASSERT_TRUE(silent.has_value());
    EXPECT_TRUE(std::isinf(silent->integratedLufs));
    EXPECT_EQ(reread.size(), 1u);
}

TEST(LoudnessCache, KeepsTheNewest) {
    TempDir dir;
    {
        LoudnessCache cache(dir.file("cache"), 3);
        for (int i = 0; i < 5; ++i) cache.store(identity("/" + std::to_string(i)), {-10.0 - i, 1});
        // Used again: among the newest.
        EXPECT_TRUE(cache.find(identity("/2")).has_value());
        cache.store(identity("/5"), {-15, 1});
        std::string error;
        ASSERT_TRUE(cache.save(error)) << error;
    }
    LoudnessCache reread(dir.file("cache"), 3);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(reread.find(identity("/" + std::to_string(i))).has_value(),
                  i == 2 || i == 4 || i == 5)
            << i;
}

TEST(LoudnessCache, AFileOfAnyBytesIsReadSafelyAndRebuilt) {
    const std::string good = "1000\t1700000000123456789\t-10.5\t0.5\t/good.mp3\n";
    const std::vector<std::pair<const char*, std::string>> files = {
        {"junk", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11) + std::string(3000, '\xFF')},
        {"NUL bytes", kHeader + std::string(1000, '\0') + "\n" + good},
        {"no header", good},
        {"another version", "velmor-mp3-player loudness 2\n" + good},
        {"huge line", kHeader + std::string(10'000'000, 'x') + "\n" + good},
        {"non-UTF-8 line", kHeader + "1\t2\t-3\t0.5\t/\xFF\xFE\n" + good},
        {"bad escape", kHeader + "1\t2\t-3\t0.5\t/a%4\n1\t2\t-3\t0.5\t/a%00\n" + good},
        {"fields missing", kHeader + "1\t2\t-3\n" + good},
        {"numbers that are not", kHeader + "x\t2\t-3\t0.5\t/a\n1\t2\t-3\t-0.5\t/b\n" + good},
        {"nan", kHeader + "1\t2\tnan\t0.5\t/a\n" + good},
        {"cut short", kHeader + good + "1000\t17000"},
        {"good", kHeader + good},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string file = dir.file("cache");
        writeBytes(file, bytes);
        LoudnessCache cache(file);
        const bool goodKept = bytes.starts_with(kHeader) && bytes.find(good) != std::string::npos;
        EXPECT_EQ(cache.find(identity("/good.mp3")).has_value(), goodKept);
        cache.store(identity("/new.mp3"), {-20, 0.25});
        std::string error;
        ASSERT_TRUE(cache.save(error)) << error;
        const std::string rebuilt = fileText(file);
        EXPECT_TRUE(rebuilt.starts_with(kHeader));
        const auto entries = LoudnessCache::parse(rebuilt);
        EXPECT_EQ(entries.size(), goodKept ? 2u : 1u);
        EXPECT_EQ(LoudnessCache::serialize(entries), rebuilt);
    }
}

// A cache of 100 measures that cannot be read when it is looked at is never written over: once
// it can be read again, its measures join the new ones.
TEST(LoudnessCache, AFileThatCannotBeReadIsKeptAndReadAgainBeforeItIsWritten) {
    struct Case {
        const char* name;
        // Makes `file` unreadable, `aside` a name to put things by; false where it cannot.
        std::function<bool(const std::string& file, const std::string& aside)> spoil;
        std::function<void(const std::string& file, const std::string& aside)> mend;
    };
    const std::vector<Case> cases = {
        {"a loop of links in its place",
         [](const std::string& file, const std::string& aside) {
             std::filesystem::rename(file, aside);
             std::filesystem::create_symlink(file + ".loop", file);
             std::filesystem::create_symlink(file, file + ".loop");
             return true;
         },
         [](const std::string& file, const std::string& aside) {
             std::filesystem::remove(file + ".loop");
             std::filesystem::rename(aside, file);
         }},
        {"no right to read it",
         [](const std::string& file, const std::string&) {
             return ::geteuid() != 0 && ::chmod(file.c_str(), 0) == 0;
         },
         [](const std::string& file, const std::string&) { ::chmod(file.c_str(), 0600); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.file("loudness");
        {
            LoudnessCache full(file);
            for (int i = 0; i < 100; ++i) full.store(identity("/" + std::to_string(i)), {-10, 1});
            std::string error;
            ASSERT_TRUE(full.save(error)) << error;
        }
        const std::string bytes = fileText(file);
        if (!c.spoil(file, dir.file("aside"))) {
            std::filesystem::remove(file);
            continue;  // root reads whatever the mode says
        }
        LoudnessCache cache(file);
        EXPECT_FALSE(cache.find(identity("/0")).has_value());
        cache.store(identity("/new"), {-20, 0.5});
        std::string error;
        EXPECT_FALSE(cache.save(error));
        EXPECT_NE(error.find(file), std::string::npos) << error;
        c.mend(file, dir.file("aside"));
        EXPECT_EQ(fileText(file), bytes);
        ASSERT_TRUE(cache.save(error)) << error;
        EXPECT_EQ(LoudnessCache::parse(fileText(file)).size(), 101u);
        EXPECT_TRUE(cache.find(identity("/0")).has_value());
    }
}

// What the cache writes at its longest is read back; a file larger than that is not ours, and
// is left as it is.
TEST(LoudnessCache, ALargerFileThanItEverWritesIsLeftAlone) {
    TempDir dir;
    const std::string file = dir.file("loudness");
    const std::size_t capacity = 3;
    {
        LoudnessCache cache(file, capacity);
        for (char c = 1; c <= 3; ++c)
            cache.store(identity("/" + std::string(4095, static_cast<char>(0x80 | c)), INT64_MAX,
                                 INT64_MIN),
                        {-0.123456789012345678, 1.98765432109876543});
        std::string error;
        ASSERT_TRUE(cache.save(error)) << error;
    }
    EXPECT_LE(std::filesystem::file_size(file), LoudnessCache::largestFile(capacity));
    LoudnessCache reread(file, capacity);
    EXPECT_TRUE(reread.find(identity("/" + std::string(4095, '\x81'), INT64_MAX, INT64_MIN)));
    EXPECT_EQ(reread.size(), capacity);

    // Too large for the measures a cache of the default size writes at their longest.
    const std::uintmax_t tooLarge = LoudnessCache::largestFile(LoudnessCache::kDefaultCapacity) + 1;
    writeBytes(file, kHeader + "1000\t1700000000123456789\t-10.5\t0.5\t/good.mp3\n");
    std::filesystem::resize_file(file, tooLarge);
    LoudnessCache cache(file);
    EXPECT_FALSE(cache.find(identity("/good.mp3")).has_value());
    cache.store(identity("/new"), {-20, 0.5});
    std::string error;
    EXPECT_FALSE(cache.save(error));
    EXPECT_EQ(std::filesystem::file_size(file), tooLarge);
    std::ifstream in(file, std::ios::binary);
    std::string head(kHeader.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, kHeader);
}

// The cache is the program's own: a link in its place is replaced, and the file it names is
// never written.
TEST(LoudnessCache, ALinkInItsPlaceIsReplacedNotWrittenThrough) {
    struct Case {
        const char* name;
        bool targetThere;
    };
    for (const Case c : {Case{"to another file", true}, Case{"to nowhere", false}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.file("loudness");
        const std::string target = dir.file("notes.txt");
        if (c.targetThere) writeBytes(target, "the user's own notes\n");
        std::filesystem::create_symlink(target, file);
        LoudnessCache cache(file);
        cache.store(identity("/a.mp3"), {-10, 0.5});
        std::string error;
        ASSERT_TRUE(cache.save(error)) << error;
        EXPECT_FALSE(std::filesystem::is_symlink(file));
        EXPECT_EQ(std::filesystem::exists(target), c.targetThere);
        if (c.targetThere) {
            EXPECT_EQ(fileText(target), "the user's own notes\n");
        }
        EXPECT_TRUE(LoudnessCache(file).find(identity("/a.mp3")).has_value());
    }
}

// A line for a file's exact size and time is trusted only with a measure a decoded MP3 could
// give: a lie would raise the file into clipping, or silence it.
TEST(LoudnessCache, AMeasureNoMp3GivesIsTreatedAsAbsent) {
    struct Case {
        const char* name;
        MeasuredLoudness measured;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"below the gate, a tiny peak", {-99, 1e-4}, false},
        {"far louder than its peak", {-20, 1e-4}, false},
        {"louder than sound gets, a huge peak", {80, 1e308}, false},
        {"a peak no decode reaches", {-10, 15}, false},
        {"sound without a peak", {-20, 0}, false},
        {"infinitely loud", {kInf, 0.5}, false},
        {"quiet and real", {-60, 0.01}, true},
        {"loud and over full scale", {-2, 1.3}, true},
        {"silence", {-kInf, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.file("loudness");
        writeBytes(file, LoudnessCache::serialize({{identity("/a.mp3"), c.measured}}));
        EXPECT_EQ(LoudnessCache(file).find(identity("/a.mp3")).has_value(), c.kept);
        LoudnessCache stored(dir.file("other"));
        stored.store(identity("/a.mp3"), c.measured);
        EXPECT_EQ(stored.find(identity("/a.mp3")).has_value(), c.kept);
    }
}

TEST(LoudnessCache, MakesItsDirectoryOpenToItsOwnerOnly) {
    TempDir dir;
    const std::string home = dir.file("cache-home");
    const std::string file = loudnessCacheFile(home);
    LoudnessCache cache(file);
    cache.store(identity("/a.mp3"), {-10, 0.5});
    std::string error;
    ASSERT_TRUE(cache.save(error)) << error;
    for (const std::string& directory : {home, home + "/velmor-mp3-player"}) {
        struct stat st {};
        ASSERT_EQ(::stat(directory.c_str(), &st), 0) << directory;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << directory;
    }
    EXPECT_FALSE(cache.hasUnsavedChanges());

    // A directory that cannot be made is a cause, not a crash; the measures stay in memory.
    writeBytes(dir.file("blocked"), "a file");
    LoudnessCache blocked(dir.file("blocked") + "/velmor-mp3-player/loudness");
    blocked.store(identity("/a.mp3"), {-10, 0.5});
    EXPECT_FALSE(blocked.save(error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(blocked.find(identity("/a.mp3")).has_value());
}

TEST(LoudnessCache, CacheHomeAsTheDesktopNamesIt) {
    struct Case {
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/xdg/cache", "/home/u", "/xdg/cache"},
        {"relative/cache", "/home/u", "/home/u/.cache"},
        {"", "/home/u", "/home/u/.cache"},
        {nullptr, "/home/u", "/home/u/.cache"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(userCacheHome(c.xdg, c.home), c.expected) << (c.xdg ? c.xdg : "(unset)");
    EXPECT_TRUE(userCacheHome(nullptr, nullptr).ends_with("/.cache"));
    EXPECT_EQ(loudnessCacheFile("/xdg/cache"), "/xdg/cache/velmor-mp3-player/loudness");
}

}  // namespace
