// The decoder on arbitrary bytes as a file: open, length, a seek, reading to the end, a scan.
//
// Input: bytes 0-1 choose the seek target as a fraction of 1.25 times the length the file
// claims (so some seeks land past the end), byte 2 bit 0 scans before the seek instead of
// after the end; the rest is the file.
//
// What must hold, besides no sanitizer report and libFuzzer's time limit: a refused file
// names its cause; an opened one has a rate libmpg123 knows and one or two channels; reading
// ends, gives finite samples and no more sound than the file's bytes can hold; a scan's
// length keeps to the decoder's own 8 kbit/s floor.

#include <mpg123.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/deck/stereo_frame.h"
#include "engine/decode/mp3_decoder.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, long long detail = 0) {
    std::fprintf(stderr, "decoder_fuzz: %s (%lld)\n", what, detail);
    std::abort();
}

void check(bool ok, const char* what, long long detail = 0) {
    if (!ok) fail(what, detail);
}

const std::string& filePath() {
    static const std::string* const path = [] {
        // Memory-backed where there is one.
        std::string pattern = (fs::exists("/dev/shm") ? std::string("/dev/shm")
                                                      : fs::temp_directory_path().string()) +
                              "/velmor-decoder-fuzz.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("decoder_fuzz: mkdtemp");
            std::abort();
        }
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::path(filePath()).parent_path(), ec);
        });
        return new std::string(pattern + "/input.mp3");
    }();
    return *path;
}

bool knownRate(int rate) {
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        if (rates[i] == rate) return true;
    return false;
}

// The most output frames a scan may count for `bytes`: the decoder believes no length below
// 8 kbit/s, which at 48 kHz is 48 frames per byte; the decoder's own preroll and a frame's
// worth on top.
std::int64_t mostFramesScanned(std::size_t bytes) {
    return 64 * static_cast<std::int64_t>(bytes) + 8 * 1152;
}

// The most output frames reading `bytes` can give. Free-format frames are as short as the
// distance to the next header, 4 bytes at the least, each with up to 1152 samples, and
// libmpg123 raises a stray 8 kHz frame to 48 kHz: 1728 per byte. Only endless output or a
// frame read twice can pass this.
std::int64_t mostFramesRead(std::size_t bytes) {
    return 1728 * static_cast<std::int64_t>(bytes) + 8 * 1152;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const unsigned seekChoice = data[0] | (unsigned(data[1]) << 8);
    const bool scanFirst = data[2] & 1;
    const std::size_t fileBytes = size - 3;
    {
        std::ofstream out(filePath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 3), std::streamsize(fileBytes));
    }

    auto opened = Mp3Decoder::open(filePath());
    if (!opened.decoder) {
        check(!opened.error.empty(), "refused without a cause");
        return 0;
    }
    Mp3Decoder& decoder = *opened.decoder;
    check(knownRate(decoder.rate()), "unknown rate", decoder.rate());
    check(decoder.channels() == 1 || decoder.channels() == 2, "channels", decoder.channels());
    const std::int64_t limit = mostFramesScanned(fileBytes);
    check(decoder.length() >= 0, "negative length", decoder.length());

    if (scanFirst && decoder.scan() == Mp3Decoder::ScanResult::Exact)
        check(decoder.length() <= limit, "scanned length beyond the bytes", decoder.length());

    const std::int64_t target = static_cast<std::int64_t>(static_cast<double>(decoder.length()) *
                                                          1.25 * seekChoice / 65535);
    // Where a seek lands in a stream of damaged frames depends on which frames the seek
    // passed over; only that it answers is asked here.
    const std::int64_t reached = decoder.seek(target);
    check(reached >= -1, "a seek answered nonsense", reached);

    std::vector<StereoFrame> buffer(2304);
    std::int64_t total = 0;
    int emptyReads = 0;
    for (;;) {
        const Mp3Decoder::Result result = decoder.read(buffer);
        check(result.frames <= buffer.size(), "read overran", std::int64_t(result.frames));
        total += static_cast<std::int64_t>(result.frames);
        check(total <= mostFramesRead(fileBytes), "more sound than the bytes hold", total);
        for (std::size_t i = 0; i < result.frames; ++i)
            check(std::isfinite(buffer[i].left) && std::isfinite(buffer[i].right),
                  "a sample that is not a number", std::int64_t(i));
        if (result.status != Mp3Decoder::Status::Ok) {
            check(result.status == Mp3Decoder::Status::End || !result.error.empty(),
                  "an error without a cause");
            break;
        }
        // A read that gives nothing and does not end would spin the decoder thread.
        emptyReads = result.frames == 0 ? emptyReads + 1 : 0;
        check(emptyReads < 64, "reads that neither give sound nor end");
    }

    if (!scanFirst && decoder.scan() == Mp3Decoder::ScanResult::Exact)
        check(decoder.length() <= limit, "scanned length beyond the bytes", decoder.length());
    return 0;
}
