// Lines that libraries print by themselves stay off standard error; everything else passes.
#include "components/stderr_filter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "engine/decode/mp3_decoder.h"
#include "support/temp_dir.h"

namespace {

// What reaches descriptor 2 while `write` runs.
template <typename Write>
std::string capturedStderr(const TempDir& dir, Write write) {
    const std::string path = dir.file("stderr.txt");
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    FILE* capture = std::fopen(path.c_str(), "w");
    ::dup2(::fileno(capture), STDERR_FILENO);
    write();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::fclose(capture);
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Layer II frames in joint stereo at 32 kbit/s, which the format does not allow: libmpg123
// decodes them, and says so on standard error even when told to be quiet.
std::string badLayerTwoFrames() {
    std::mt19937 random(5);
    std::string bytes;
    while (bytes.size() < 4000) {
        bytes += "\xFF\xFD\x14\x74";
        for (int i = 0; i < 92; ++i) bytes += char(random() & 0xff);
    }
    return bytes;
}

TEST(StderrFilter, DecodingDamagedFramesPrintsNothingWhileOurLinesPass) {
    TempDir dir;
    const std::string mp3 = dir.file("bad.mp3");
    const std::string bytes = badLayerTwoFrames();
    std::ofstream(mp3, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    auto decodeAll = [&] {
        auto opened = Mp3Decoder::open(mp3);
        ASSERT_TRUE(opened.decoder) << opened.error;
        std::vector<StereoFrame> buffer(2304);
        while (opened.decoder->read(buffer).status == Mp3Decoder::Status::Ok) {
        }
    };
    // The case the filter is for: without it, the library's line comes through.
    ASSERT_NE(capturedStderr(dir, decodeAll).find("Truncating stereo boundary"), std::string::npos);

    StderrFilter::install();
    StderrFilter::install();  // once is enough; twice changes nothing
    EXPECT_EQ(capturedStderr(dir,
                             [&] {
                                 decodeAll();
                                 std::fprintf(stderr, "%s\n", "12:00:00  our own line");
                                 std::fputs("no line end", stderr);
                             }),
              "12:00:00  our own line\nno line end");
}

}  // namespace
