#include "shared/file_uri.h"

#include <gtest/gtest.h>

namespace {

TEST(FileUri, PathsRoundTripByteForByte) {
    struct Case {
        std::string path;
        std::string uri;
    } cases[] = {
        {"/music/a.mp3", "file:///music/a.mp3"},
        {"/my music/#1 100%?.mp3", "file:///my%20music/%231%20100%25%3F.mp3"},
        {"/m/\xc3\xa9t\xc3\xa9/", "file:///m/%C3%A9t%C3%A9/"},
        {"/m/\xe9t\xe9.mp3", "file:///m/%E9t%E9.mp3"},  // not valid UTF-8: kept as bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileUriOf(c.path), c.uri) << c.path;
        EXPECT_EQ(pathOfFileUri(c.uri), c.path) << c.uri;
    }
}

TEST(FileUri, WhatFileManagersSendAndWhatIsNoLocalFile) {
    struct Case {
        const char* uri;
        std::optional<std::string> path;
    } cases[] = {
        {"file:///a/b%20c.mp3", "/a/b c.mp3"},
        {"FILE:///a", "/a"},
        {"file://localhost/a/", "/a/"},
        {"file:/a/b", "/a/b"},
        {"file:///a/%e9", "/a/\xe9"},
        {"file:///a/100%", "/a/100%"},  // a stray percent sign stays
        {"file:///a/b.mp3#frag", "/a/b.mp3"},
        {"file://otherhost/a", std::nullopt},
        {"file://localhostx/a", std::nullopt},
        {"file:///a/%00b", std::nullopt},
        {"http://example.com/a.mp3", std::nullopt},
        {"/a/b.mp3", std::nullopt},
        {"file:relative", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(pathOfFileUri(c.uri), c.path) << c.uri;
}

}  // namespace
