#include "components/mp3_tags.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>

#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

// Appends an ID3v1 tag by hand: lame writes ID3v1 only as Latin-1 it converts itself.
void appendId3v1(const std::string& path, const std::string& title, const std::string& artist) {
    std::string tag(128, '\0');
    tag.replace(0, 3, "TAG");
    tag.replace(3, title.size(), title);
    tag.replace(33, artist.size(), artist);
    std::ofstream(path, std::ios::binary | std::ios::app) << tag;
}

TEST(Mp3Tags, TitleArtistAlbumFromEitherTagVersion) {
    TempDir dir;
    struct Case {
        const char* name;
        ToneOptions options;
        const char* v1Title;  // appended by hand; nullptr for none
        Mp3Tags expected;
    } cases[] = {
        {"lame tags.mp3",
         {.title = "Sömething", .artist = "Ann Example", .album = "Tönes"},
         nullptr,
         {"Sömething", "Ann Example", "Tönes"}},
        {"no tags.mp3", {}, nullptr, {}},
        // Latin-1 in the fixed-width fields, blank-padded.
        {"v1 only.mp3", {}, "Caf\xe9 Song   ", {"Café Song", "Bob", ""}},
        // Each field from ID3v2 where it has one, else from ID3v1.
        {"both.mp3", {.title = "From Two"}, "From One", {"From Two", "Bob", ""}},
    };
    for (auto& c : cases) {
        const std::string path = makeToneMp3(dir.path(), c.name, 440, 0.3, c.options);
        if (c.v1Title) appendId3v1(path, c.v1Title, "Bob");
        const Mp3Tags tags = readMp3Tags(path);
        EXPECT_EQ(tags.title, c.expected.title) << c.name;
        EXPECT_EQ(tags.artist, c.expected.artist) << c.name;
        EXPECT_EQ(tags.album, c.expected.album) << c.name;
    }
    const Mp3Tags missing = readMp3Tags(dir.file("missing.mp3"));
    EXPECT_EQ(missing.title + missing.artist + missing.album, "");
}

// A FIFO put where a track was (or a device) gives no tags at once, without a writer.
TEST(Mp3Tags, AFifoInTheFilesPlaceGivesNoTagsAndNoWait) {
    TempDir dir;
    const std::string fifo = dir.file("2 b.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return readMp3Tags(fifo); });
    const bool answered = read.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    EXPECT_TRUE(answered) << "the read waits for a writer";
    if (!answered) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // let it go
    const Mp3Tags tags = read.get();
    EXPECT_EQ(tags.title + tags.artist + tags.album, "");
}

}  // namespace
