#include "engine/decode/mp3_decoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Enough to skip junk between frames and damaged spots; the default (1 KiB) ends playback at
// the first damage, and no limit at all spends seconds on a large file of garbage.
constexpr long kResyncLimit = 64 * 1024;
// Frames of 26 bytes (8 kbit/s at 22.05 kHz) may borrow 511 bytes from 20 frames before.
constexpr long kSeekPreroll = 21;
// The bit rates an MP3 stream can have, with room for a header frame or tags.
constexpr double kMinKbps = 8;
constexpr double kMaxKbps = 640;

// Closes and frees a handle, and forgets it; nothing for none.
void release(mpg123_handle*& handle) {
    if (!handle) return;
    mpg123_close(handle);
    mpg123_delete(handle);
    handle = nullptr;
}

bool initLibrary() {
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

}  // namespace

// POSIX-like I/O on our own descriptor with pread, so that we see the errno of a failed read
// and can abandon reads.
struct Mp3Decoder::Reader {
    int fd = -1;
    off_t offset = 0;
    int lastErrno = 0;
    const std::function<bool()>* giveUp = nullptr;  // asked before each read, while set

    ~Reader() {
        if (fd >= 0) ::close(fd);
    }
    static mpg123_ssize_t read(void* self, void* buffer, size_t size) {
        auto& r = *static_cast<Reader*>(self);
        if (r.giveUp && *r.giveUp && (*r.giveUp)()) {
            r.lastErrno = ECANCELED;
            errno = ECANCELED;
            return -1;
        }
        for (;;) {
            const ssize_t n = ::pread(r.fd, buffer, size, r.offset);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                r.lastErrno = errno;
                return -1;
            }
            r.offset += n;
            return n;
        }
    }
    static off_t seek(void* self, off_t offset, int whence) {
        auto& r = *static_cast<Reader*>(self);
        off_t base = 0;
        if (whence == SEEK_CUR) {
            base = r.offset;
        } else if (whence == SEEK_END) {
            struct stat st {};
            if (::fstat(r.fd, &st) != 0) return -1;
            base = st.st_size;
        } else if (whence != SEEK_SET) {
            errno = EINVAL;
            return -1;
        }
        if (base + offset < 0) {
            errno = EINVAL;
            return -1;
        }
        r.offset = base + offset;
        return r.offset;
    }
};

Mp3Decoder::Opened Mp3Decoder::open(const std::string& path,
                                    const std::function<bool()>& abandoned) {
    if (!initLibrary()) return {nullptr, "the MP3 decoder library could not start"};
    std::unique_ptr<Mp3Decoder> d(new Mp3Decoder);
    d->reader = std::make_unique<Reader>();
    d->reader->giveUp = &abandoned;
    // O_NONBLOCK: a FIFO given as the file must not hang the window.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {nullptr, std::strerror(errno)};
    d->reader->fd = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {nullptr, std::strerror(errno)};
    if (S_ISDIR(st.st_mode)) return {nullptr, "it is a directory"};
    if (!S_ISREG(st.st_mode)) return {nullptr, "not a regular file"};
    if (st.st_size == 0) return {nullptr, "the file is empty"};
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    const int rc = d->openHandle(0);
    if (rc == MPG123_BAD_OUTFORMAT) return {nullptr, "unsupported output format"};
    if (rc != MPG123_OK) return {nullptr, d->causeOfFailure(rc)};
    mpg123_handle* mh = d->handle;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    mpg123_getformat(mh, &rate, &channels, &encoding);
    d->sampleRate = static_cast<int>(rate);
    mpg123_frameinfo info{};
    d->channelCount = mpg123_info(mh, &info) == MPG123_OK && info.mode == MPG123_M_MONO ? 1 : 2;

    long encoderDelay = -1;
    mpg123_getstate(mh, MPG123_ENC_DELAY, &encoderDelay, nullptr);
    const off_t length = mpg123_length(mh);
    d->frames = length > 0 ? length : 0;
    // Without an Info/Xing header the length is guessed from the size, which for VBR can be
    // far off: scan() makes it exact.
    d->exact = encoderDelay >= 0 && length > 0;
    d->fileBytes = st.st_size;
    if (length > 0) d->checkHeaderLength();
    d->reader->giveUp = nullptr;
    return {std::move(d), {}};
}

int Mp3Decoder::openHandle(long extraFlags) {
    release(handle);
    reader->offset = 0;
    reader->lastErrno = 0;
    int err = MPG123_OK;
    handle = mpg123_new(nullptr, &err);
    if (!handle) return err;
    mpg123_handle* mh = handle;
    // Added to the defaults, which keep automatic resampling for a stray frame of another
    // rate. Never MPG123_FUZZY: it makes seeks land seconds off.
    mpg123_param(mh, MPG123_ADD_FLAGS,
                 MPG123_GAPLESS | MPG123_QUIET | MPG123_SKIP_ID3V2 | extraFlags, 0);
    mpg123_param(mh, MPG123_RESYNC_LIMIT, kResyncLimit, 0);
    // After a seek, decode enough frames before the target to refill the bit reservoir: with
    // the default (4), a quiet VBR file comes out silent for 70 ms after each seek.
    mpg123_param(mh, MPG123_PREFRAMES, kSeekPreroll, 0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    // Stereo float from the first frame on (mono is doubled): a format is settled when the
    // stream starts, and a later change of the table only applies to later changes of format.
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32);
    if (mpg123_replace_reader_handle(mh, &Reader::read, &Reader::seek, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh, reader.get()) != MPG123_OK)
        return MPG123_ERR;

    long rate = 0;
    int channels = 0;
    int encoding = 0;
    const int rc = mpg123_getformat(mh, &rate, &channels, &encoding);
    if (rc != MPG123_OK) return rc;
    if (channels != 2 || encoding != MPG123_ENC_FLOAT_32) return MPG123_BAD_OUTFORMAT;
    // Lock the output to this rate: a stray frame of another rate (junk that looks like a
    // header, streams stuck together) is resampled by libmpg123 instead of changing it.
    mpg123_format_none(mh);
    mpg123_format(mh, rate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
    return MPG123_OK;
}

void Mp3Decoder::checkHeaderLength() {
    // What the file's size implies when the header's length is believed. MP3 holds 8 to 640
    // kbit/s; outside that the header lies (a frame count of 0xFFFFFFFF, or one copied from
    // another file), and every use of it (the length shown, seeks, the end) would go wrong.
    const std::int64_t audioStart = std::max<std::int64_t>(0, mpg123_framepos(handle));
    const double kbps = impliedKbps(frames, fileBytes - audioStart);
    const bool plausible = kbps >= kMinKbps && kbps <= kMaxKbps;
    if (plausible && !exact) return;  // an estimate: scanned anyway
    // libmpg123 falls back to an estimate from the size by itself for some broken headers (a
    // frame count of 0): what it gives with the header ignored tells the two apart.
    const off_t resumeAt = reader->offset;
    mpg123_handle* believing = std::exchange(handle, nullptr);
    const off_t estimate =
        openHandle(MPG123_IGNORE_STREAMLENGTH) == MPG123_OK ? mpg123_length(handle) : off_t{-1};
    if (!plausible && estimate > 0) {
        // Decode without the header's length too, so that no seek or end relies on it.
        release(believing);
        frames = estimate;
        exact = false;
        return;
    }
    release(handle);
    handle = believing;
    reader->offset = resumeAt;
    reader->lastErrno = 0;
    if (!plausible) frames = 0;
    if (!plausible || estimate == frames) exact = false;
}

double Mp3Decoder::impliedKbps(std::int64_t count, std::int64_t bytes) const {
    const double seconds = static_cast<double>(count) / sampleRate;
    return static_cast<double>(bytes) * 8 / seconds / 1000;
}

Mp3Decoder::~Mp3Decoder() {
    release(handle);
}

std::string Mp3Decoder::causeOfFailure(int code) const {
    if (reader->lastErrno == ECANCELED) return "cancelled";
    if (reader->lastErrno != 0)
        return std::string("read error: ") + std::strerror(reader->lastErrno);
    if (code == MPG123_DONE || code == MPG123_ERR) {
        if (code == MPG123_ERR && handle) {
            const int e = mpg123_errcode(handle);
            if (e != MPG123_OK && e != MPG123_ERR && e != MPG123_OUT_OF_SYNC &&
                e != MPG123_RESYNC_FAIL && e != MPG123_NEED_MORE && e != MPG123_BAD_FILE)
                return std::string("not an MP3 file (") + mpg123_plain_strerror(e) + ")";
        }
        return "not an MP3 file";
    }
    return mpg123_plain_strerror(code);
}

Mp3Decoder::ScanResult Mp3Decoder::scan(const std::function<bool()>& interrupted) {
    const off_t position = mpg123_tell(handle);
    reader->giveUp = &interrupted;
    const int rc = mpg123_scan(handle);
    reader->giveUp = nullptr;
    // A read that fails ends the scan as the end of the file would: the count is only as
    // good as the reads.
    if (reader->lastErrno != 0) {
        const bool cancelled = reader->lastErrno == ECANCELED;
        reader->lastErrno = 0;
        // The scan stopped anywhere, and its own way back may have failed too.
        mpg123_seek(handle, position, SEEK_SET);
        return cancelled ? ScanResult::Interrupted : ScanResult::Failed;
    }
    if (rc != MPG123_OK) return ScanResult::Failed;
    const off_t length = mpg123_length(handle);
    if (length <= 0) return ScanResult::Failed;
    // A count the file's bytes cannot hold (a damaged header's delay and padding, stray frames
    // of another rate) is no more believed from a scan than from a header.
    if (impliedKbps(length, fileBytes) < kMinKbps) return ScanResult::Failed;
    frames = length;
    exact = true;
    return ScanResult::Exact;
}

Mp3Decoder::Result Mp3Decoder::read(std::span<StereoFrame> out) {
    Result result;
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    const size_t capacity = out.size() * sizeof(StereoFrame);
    size_t filled = 0;
    while (filled < capacity) {
        size_t done = 0;
        const int rc = mpg123_read(handle, bytes + filled, capacity - filled, &done);
        filled += done;
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(handle, &rate, &channels, &encoding);
            if (rate == sampleRate && channels == 2 && encoding == MPG123_ENC_FLOAT_32) continue;
            result.status = Status::Error;
            result.error = "the stream changes its sound format";
            break;
        }
        if (rc == MPG123_OK) {
            if (done == 0) break;
            continue;
        }
        if (rc == MPG123_DONE) {
            result.status = Status::End;
        } else {
            result.status = Status::Error;
            result.error = reader->lastErrno ? causeOfFailure(rc) : mpg123_strerror(handle);
        }
        break;
    }
    result.frames = filled / sizeof(StereoFrame);
    return result;
}

std::int64_t Mp3Decoder::seek(std::int64_t frame) {
    const off_t reached = mpg123_seek(handle, static_cast<off_t>(frame), SEEK_SET);
    return reached < 0 ? -1 : reached;
}
