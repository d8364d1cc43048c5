// Files whose header lies about their length, or that have none: the clock goes on while
// sound plays, and the length shown is one the file can hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "support/file_text.h"
#include "support/manual_deck_rig.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

std::string writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

void putBigEndian(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = char(value >> (24 - 8 * i));
}

// The CRC that guards the first 190 bytes of a LAME header frame.
std::uint16_t lameCrc(const std::string& bytes, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= std::uint8_t(bytes[i]);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// A lame file whose Xing header claims `frames` frames, its CRC made to match, so that only
// the count lies.
std::string withFrameCount(std::string bytes, std::uint32_t frames) {
    std::size_t tag = bytes.find("Xing");
    if (tag == std::string::npos || tag > 64) tag = bytes.find("Info");
    if (tag == std::string::npos || tag > 64 || !(bytes[tag + 7] & 1))
        throw std::runtime_error("no frame count in the header");
    putBigEndian(bytes, tag + 8, frames);
    const std::size_t lame = bytes.find("LAME", tag);
    if (lame != std::string::npos && lame < 256) {
        const std::uint16_t crc = lameCrc(bytes, lame + 34);
        bytes[lame + 34] = char(crc >> 8);
        bytes[lame + 35] = char(crc);
    }
    return bytes;
}

// An Info frame claiming about 1.15e9 frames, then silent frames, cut at 600 bytes.
std::string hugeCountOnSixHundredBytes() {
    std::string info(208, '\0');  // MPEG-1 layer III, 64 kbit/s, 44.1 kHz, mono
    info.replace(0, 4, "\xFF\xFB\x50\xC4");
    info.replace(21, 4, "Info");
    putBigEndian(info, 25, 1);  // flags: a frame count
    putBigEndian(info, 29, 1150000000);
    std::string silent(104, '\0');  // 32 kbit/s, all side information zero
    silent.replace(0, 4, "\xFF\xFB\x10\xC4");
    return (info + silent + silent + silent + silent).substr(0, 600);
}

// Noise with a frame header every frame: the first says 128 kbit/s, the others 64, so an
// estimate from the first comes out at half the length.
std::string syncWordsInNoise(std::size_t bytes) {
    std::mt19937 random(5);
    std::string out;
    auto frame = [&](const char* header, std::size_t size) {
        out += std::string(header, 4);
        for (std::size_t i = 4; i < size; ++i) out += char(random() & 0xff);
    };
    frame("\xFF\xFB\x90\x44", 417);
    while (out.size() < bytes) frame("\xFF\xFB\x50\x44", 208);
    return out;
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct LyingFile {
    const char* name;
    std::function<std::string(const TempDir&)> make;  // returns the file's path
    bool lengthKnownEarly;  // the deck learns the true length long before the end
};

std::string vbrTone(const TempDir& dir) {
    return fileText(makeToneMp3(dir.path(), "tone.mp3", 440, 3, {.vbr = true}));
}

const LyingFile kLyingFiles[] = {
    {"xingCountZero",
     [](const TempDir& dir) {
         return writeBytes(dir.file("a.mp3"), withFrameCount(vbrTone(dir), 0));
     },
     true},
    {"xingCountAllOnes",
     [](const TempDir& dir) {
         return writeBytes(dir.file("a.mp3"), withFrameCount(vbrTone(dir), 0xFFFFFFFF));
     },
     true},
    // Believable for the size, yet 50 of 116 frames: the length follows the position.
    {"xingCountTooSmall",
     [](const TempDir& dir) {
         return writeBytes(dir.file("a.mp3"), withFrameCount(vbrTone(dir), 50));
     },
     false},
    {"hugeCountOnSixHundredBytes",
     [](const TempDir& dir) { return writeBytes(dir.file("a.mp3"), hugeCountOnSixHundredBytes()); },
     true},
    {"syncWordsInNoise",
     [](const TempDir& dir) { return writeBytes(dir.file("a.mp3"), syncWordsInNoise(60000)); },
     true},
};

void PrintTo(const LyingFile& file, std::ostream* out) {
    *out << file.name;
}

class Mp3DeckLyingLength : public ::testing::TestWithParam<LyingFile> {};

TEST_P(Mp3DeckLyingLength, TheClockRunsWithTheSoundAndTheLengthFitsTheFile) {
    TempDir dir;
    const std::string path = GetParam().make(dir);
    const double fileBits = double(fileText(path).size()) * 8;
    ManualDeckRig rig(44100);
    Mp3Deck& deck = rig.deck();

    // A far seek, and the length shown at once: both bounded by what the file can hold.
    deck.setFileName(path);
    EXPECT_LE(deck.duration(), fileBits / 8000) << "a length of less than 8 kbit/s";
    const double cpuBefore = cpuSeconds();
    deck.play();
    for (int step = 0; step < 3 && deck.playState() == Deck::Playing; ++step) {
        deck.stepForward();
        rig.render(4410);
    }
    EXPECT_LT(cpuSeconds() - cpuBefore, 1.0);

    deck.setFileName(path);
    const double lengthAtOpen = deck.duration();
    deck.play();
    constexpr std::size_t kChunk = ManualDeckRig::kBuffer;
    std::size_t playedFrames = 0;
    int offTheClock = 0;   // chunks after which the position is not what was played
    int lengthBehind = 0;  // chunks after which the length is less than the position
    double lengthSeenEarly = 0;
    while (deck.playState() == Deck::Playing && playedFrames < 120 * 44100) {
        rig.render(kChunk);
        if (deck.playState() != Deck::Playing) break;
        playedFrames += kChunk;
        const double position = deck.currentPosition();
        if (std::abs(position - double(playedFrames) / 44100) > 1e-9) ++offTheClock;
        if (deck.duration() < position) ++lengthBehind;
        if (playedFrames == 20 * kChunk) {
            // A full ring leaves the decoder time to scan the file.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (deck.duration() == lengthAtOpen && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lengthSeenEarly = deck.duration();
        }
    }
    EXPECT_EQ(offTheClock, 0) << "of " << playedFrames / kChunk;
    EXPECT_EQ(lengthBehind, 0);
    ASSERT_EQ(deck.playState(), Deck::Stopped);
    // The end tells the true length: what played, to within the buffer it ended in.
    const double played = double(playedFrames) / 44100;
    EXPECT_GE(deck.duration(), played);
    EXPECT_LE(deck.duration(), played + double(kChunk) / 44100);
    if (GetParam().lengthKnownEarly && playedFrames > 20 * kChunk) {
        EXPECT_NEAR(lengthSeenEarly, deck.duration(), 0.03);
    }
    EXPECT_TRUE(rig.errors.taken().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Mp3DeckLyingLength, ::testing::ValuesIn(kLyingFiles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
