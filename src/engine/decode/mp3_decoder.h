#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "engine/deck/stereo_frame.h"

struct mpg123_handle_struct;

// One open MP3 file, decoded by libmpg123 to float stereo frames at the file's own rate
// (mono is doubled), gapless. Used by one thread at a time.
class Mp3Decoder {
public:
    struct Opened {
        std::unique_ptr<Mp3Decoder> decoder;  // null when the file could not be opened
        std::string error;                    // the plain cause, e.g. "not an MP3 file"
    };
    // `abandoned` is asked before every read while the file opens; once it says true, the open
    // fails with "cancelled", so that a slow open of a file nobody wants any more ends at once.
    static Opened open(const std::string& path, const std::function<bool()>& abandoned = {});
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    int rate() const { return sampleRate; }
    int channels() const { return channelCount; }
    // Frames of the whole file: exact with a LAME/Xing/Info header or after scan(), else an
    // estimate from the file size.
    std::int64_t length() const { return frames; }
    bool lengthIsExact() const { return exact; }
    // Reads every frame header to count the frames exactly; keeps the decoding position.
    // `interrupted` is asked before every read: once it says true, the scan stops, the
    // position is restored, and a later scan starts afresh.
    enum class ScanResult { Exact, Failed, Interrupted };
    ScanResult scan(const std::function<bool()>& interrupted = {});

    enum class Status { Ok, End, Error };
    struct Result {
        Status status = Status::Ok;
        std::size_t frames = 0;  // frames written to out, with any status
        std::string error;       // for Status::Error
    };
    Result read(std::span<StereoFrame> out);
    // Moves to a frame, sample-accurately; returns the frame reached or -1.
    std::int64_t seek(std::int64_t frame);

private:
    struct Reader;
    Mp3Decoder() = default;
    std::string causeOfFailure(int code) const;
    // (Re)opens `handle` on the file from its start; an mpg123 error code.
    int openHandle(long extraFlags);
    // Turns a header length the file cannot hold into an estimate, to be scanned.
    void checkHeaderLength();
    // The bit rate, in kbit/s, that `count` frames held in `bytes` bytes would have.
    double impliedKbps(std::int64_t count, std::int64_t bytes) const;

    mpg123_handle_struct* handle = nullptr;
    std::unique_ptr<Reader> reader;
    int sampleRate = 0;
    int channelCount = 0;
    std::int64_t frames = 0;
    bool exact = false;
    std::int64_t fileBytes = 0;  // the file's size when it was opened
};
