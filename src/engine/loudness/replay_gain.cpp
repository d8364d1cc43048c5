#include "engine/loudness/replay_gain.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/loudness/measured_loudness.h"

namespace {

// What ReplayGain's own formats can hold (the LAME header's nine bits of tenths); beyond it a
// value is damage, not a level.
constexpr double kMaxGainDb = 51.0;
// Where the first frame may start after the ID3v2 tags: padding and junk beyond it are not a
// file whose header we trust.
constexpr size_t kFrameSearchBytes = 4096;
constexpr long kResyncLimit = 64 * 1024;

std::optional<double> validGain(double db) {
    if (!std::isfinite(db) || std::fabs(db) > kMaxGainDb) return std::nullopt;
    return db;
}

std::optional<double> validPeak(double peak) {
    if (!LoudnessBounds::plausiblePeak(peak)) return std::nullopt;
    return peak;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A plain decimal number and what follows it; from_chars takes no locale and no leading '+'.
std::optional<double> leadingNumber(std::string_view& text) {
    const bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || (plus && text.front() == '-')) return std::nullopt;
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc()) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return value;
}

// The bytes of one ID3v2 frame's content, with the unsynchronisation taken out.
std::vector<unsigned char> resynchronised(const unsigned char* data, size_t size) {
    std::vector<unsigned char> out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i)
        if (!(i > 0 && data[i] == 0 && data[i - 1] == 0xFF)) out.push_back(data[i]);
    return out;
}

std::uint32_t bigEndian(const unsigned char* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

std::optional<std::uint32_t> synchsafe(const unsigned char* p) {
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return std::nullopt;
    return std::uint32_t(p[0]) << 21 | std::uint32_t(p[1]) << 14 | std::uint32_t(p[2]) << 7 | p[3];
}

struct Found {
    ReplayGainTags rva2, txxx, lame;
};

// RVA2: an identification ("track", "album"), then per channel its type, the gain in 1/512 dB
// and a peak of a given number of bits. Only the master volume (type 1) speaks for the file.
void readRva2(const std::vector<unsigned char>& frame, ReplayGainTags& into) {
    const auto nul = std::find(frame.begin(), frame.end(), 0);
    if (nul == frame.end()) return;
    const std::string_view identification(reinterpret_cast<const char*>(frame.data()),
                                          static_cast<size_t>(nul - frame.begin()));
    const bool album = equalsIgnoringCase(identification.substr(0, 5), "album");
    for (size_t at = static_cast<size_t>(nul - frame.begin()) + 1; at + 4 <= frame.size();) {
        const unsigned char channel = frame[at];
        const auto adjustment = static_cast<std::int16_t>(bigEndian(&frame[at + 1], 2));
        const unsigned bits = frame[at + 3];
        const size_t peakBytes = (bits + 7) / 8;
        at += 4;
        if (at + peakBytes > frame.size()) return;
        if (channel == 1) {
            auto& gain = album ? into.albumGainDb : into.trackGainDb;
            auto& peak = album ? into.albumPeak : into.trackPeak;
            gain = validGain(adjustment / 512.0);
            // The peak's most significant 32 bits, as a fraction of full scale (its top bit).
            if (bits > 0) {
                const size_t used = std::min<size_t>(peakBytes, 4);
                const double raw = bigEndian(&frame[at], static_cast<int>(used));
                const int scaleBits = static_cast<int>(std::min<unsigned>(bits, 32)) - 1;
                peak = validPeak(raw / std::ldexp(1.0, scaleBits));
            }
            return;
        }
        at += peakBytes;
    }
}

// Walks an ID3v2.3 or 2.4 tag's frames for RVA2 (libmpg123 keeps only its gain, not its peak).
void readId3v2Frames(const unsigned char* tag, size_t size, ReplayGainTags& rva2) {
    if (size < 10 || std::memcmp(tag, "ID3", 3) != 0) return;
    const int major = tag[3];
    const unsigned char flags = tag[5];
    const auto declared = synchsafe(tag + 6);
    if ((major != 3 && major != 4) || !declared) return;
    std::vector<unsigned char> body(tag + 10, tag + 10 + std::min<size_t>(*declared, size - 10));
    if (major == 3 && (flags & 0x80)) body = resynchronised(body.data(), body.size());
    size_t at = 0;
    if (flags & 0x40) {  // an extended header: skipped
        if (body.size() < 4) return;
        const auto extended =
            major == 4 ? synchsafe(body.data()) : std::optional(bigEndian(body.data(), 4) + 4);
        if (!extended) return;
        at = *extended;
    }
    while (at + 10 <= body.size() && std::isalnum(body[at])) {
        const unsigned char* header = &body[at];
        const auto frameSize = major == 4 ? synchsafe(header + 4) : bigEndian(header + 4, 4);
        if (!frameSize || *frameSize > body.size() - at - 10) return;
        const unsigned char* content = header + 10;
        size_t contentSize = *frameSize;
        at += 10 + *frameSize;
        if (std::memcmp(header, "RVA2", 4) != 0) continue;
        const unsigned char format = header[9];
        const bool compressedOrEncrypted = major == 4 ? (format & 0x0C) : (format & 0xC0);
        if (compressedOrEncrypted) continue;
        const bool grouped = major == 4 ? (format & 0x40) : (format & 0x20);
        const size_t skip = (grouped ? 1 : 0) + (major == 4 && (format & 0x01) ? 4 : 0);
        if (skip > contentSize) continue;
        content += skip;
        contentSize -= skip;
        const bool unsynchronised = major == 4 && ((format & 0x02) || (flags & 0x80));
        readRva2(unsynchronised ? resynchronised(content, contentSize)
                                : std::vector<unsigned char>(content, content + contentSize),
                 rva2);
    }
}

// TXXX frames, as libmpg123 gives them in UTF-8: the description names the value.
void readTxxx(const mpg123_id3v2& id3, ReplayGainTags& into) {
    auto text = [](const mpg123_string& s) {
        if (!s.p || s.fill == 0) return std::string();
        return std::string(s.p, strnlen(s.p, s.fill));
    };
    for (size_t i = 0; i < id3.extras; ++i) {
        const std::string name = text(id3.extra[i].description);
        const std::string value = text(id3.extra[i].text);
        if (equalsIgnoringCase(name, "replaygain_track_gain"))
            into.trackGainDb = ReplayGainText::gainDb(value);
        else if (equalsIgnoringCase(name, "replaygain_album_gain"))
            into.albumGainDb = ReplayGainText::gainDb(value);
        else if (equalsIgnoringCase(name, "replaygain_track_peak"))
            into.trackPeak = ReplayGainText::peak(value);
        else if (equalsIgnoringCase(name, "replaygain_album_peak"))
            into.albumPeak = ReplayGainText::peak(value);
    }
}

bool readAt(int fd, off_t offset, unsigned char* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// LAME before 3.95 measured against a reference 6 dB lower than ReplayGain's: what it wrote by
// itself is 6 dB short.
double lameReferenceOffsetDb(const unsigned char* encoder) {
    const std::string_view name(reinterpret_cast<const char*>(encoder), 9);
    if (!name.starts_with("LAME")) return 0;
    unsigned major = 0, minor = 0;
    const char* end = name.data() + name.size();
    auto [dot, error] = std::from_chars(name.data() + 4, end, major);
    if (error != std::errc() || dot == end || *dot != '.') return 0;
    if (std::from_chars(dot + 1, end, minor).ec != std::errc()) return 0;
    return major < 3 || (major == 3 && minor < 95) ? 6 : 0;
}

// One of the LAME header's two gain fields: three bits of name (1 radio = track, 2 audiophile =
// album), three of originator (0: not set, 3: set by the encoder), a sign and tenths of a dB in
// nine bits.
void readLameGainField(const unsigned char* field, double encoderOffsetDb, ReplayGainTags& into) {
    const int name = field[0] >> 5;
    const int originator = (field[0] >> 2) & 7;
    if (originator == 0 || (name != 1 && name != 2)) return;
    const int tenths = (field[0] & 1) << 8 | field[1];
    const double db =
        (field[0] & 2 ? -tenths : tenths) / 10.0 + (originator == 3 ? encoderOffsetDb : 0);
    (name == 1 ? into.trackGainDb : into.albumGainDb) = validGain(db);
}

// The Xing/Info frame's LAME extension: the first frame after the ID3v2 tags.
void readLameHeader(int fd, ReplayGainTags& into) {
    off_t start = 0;
    for (int tags = 0; tags < 8; ++tags) {  // tags may follow each other
        unsigned char id3[10];
        if (!readAt(fd, start, id3, sizeof id3) || std::memcmp(id3, "ID3", 3) != 0) break;
        const auto size = synchsafe(id3 + 6);
        if (!size) return;
        start += 10 + static_cast<off_t>(*size) + (id3[5] & 0x10 ? 10 : 0);
    }
    std::array<unsigned char, kFrameSearchBytes + 512> bytes{};
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            ::pread(fd, bytes.data() + got, bytes.size() - got, start + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    for (size_t at = 0; at < kFrameSearchBytes && at + 4 <= got; ++at) {
        const unsigned char* h = &bytes[at];
        const bool sync = h[0] == 0xFF && (h[1] & 0xE0) == 0xE0;
        const int version = (h[1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
        const int layer = (h[1] >> 1) & 3;    // 1: layer III
        const int bitrate = h[2] >> 4;
        const int rate = (h[2] >> 2) & 3;
        if (!sync || version == 1 || layer != 1 || bitrate == 0 || bitrate == 15 || rate == 3)
            continue;
        const bool mono = (h[3] >> 6) == 3;
        const size_t sideInfo = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
        size_t tag = at + 4 + sideInfo;
        if (tag + 120 + 36 > got) return;
        if (std::memcmp(&bytes[tag], "Xing", 4) != 0 && std::memcmp(&bytes[tag], "Info", 4) != 0)
            return;  // the first frame is audio: no header
        const std::uint32_t flags = bigEndian(&bytes[tag + 4], 4);
        tag += 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) +
               (flags & 8 ? 4 : 0);
        if (tag + 36 > got || bytes[tag] == 0) return;  // no encoder's extension
        const unsigned char* extension = &bytes[tag];
        // Encoder (9), revision and method (1), lowpass (1), peak (4, 9.23 fixed point), then
        // the two gain fields.
        into.trackPeak = validPeak(bigEndian(extension + 11, 4) / std::ldexp(1.0, 23));
        const double offsetDb = lameReferenceOffsetDb(extension);
        readLameGainField(extension + 15, offsetDb, into);
        readLameGainField(extension + 17, offsetDb, into);
        return;
    }
}

struct HandleCloser {
    mpg123_handle* handle = nullptr;
    ~HandleCloser() {
        if (!handle) return;
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

// The first of the sources that carries the gain, with its own peak, or another's where it has
// none: a peak limits the gain, whoever measured it.
void merge(ReplayGainTags& into, const std::array<const ReplayGainTags*, 3>& byPrecedence) {
    for (const ReplayGainTags* source : byPrecedence) {
        if (!into.trackGainDb && source->trackGainDb) into.trackGainDb = source->trackGainDb;
        if (!into.albumGainDb && source->albumGainDb) into.albumGainDb = source->albumGainDb;
        if (!into.trackPeak && source->trackPeak) into.trackPeak = source->trackPeak;
        if (!into.albumPeak && source->albumPeak) into.albumPeak = source->albumPeak;
    }
}

bool initLibrary() {
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

}  // namespace

namespace ReplayGainText {

std::optional<double> gainDb(const std::string& text) {
    std::string_view rest = trimmed(text);
    const auto value = leadingNumber(rest);
    if (!value) return std::nullopt;
    rest = trimmed(rest);
    if (!rest.empty() && !equalsIgnoringCase(rest, "dB")) return std::nullopt;
    return validGain(*value);
}

std::optional<double> peak(const std::string& text) {
    std::string_view rest = trimmed(text);
    const auto value = leadingNumber(rest);
    if (!value || !trimmed(rest).empty()) return std::nullopt;
    return validPeak(*value);
}

}  // namespace ReplayGainText

ReplayGainTags readReplayGainTags(const std::string& path) {
    Found found;
    FdCloser file;
    // O_NONBLOCK: a FIFO given as the file must not hang the reading thread.
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);

    readLameHeader(file.fd, found.lame);
    if (initLibrary()) {
        int err = MPG123_OK;
        HandleCloser mh{mpg123_new(nullptr, &err)};
        if (mh.handle) {
            mpg123_param(mh.handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_STORE_RAW_ID3, 0);
            mpg123_param(mh.handle, MPG123_RESYNC_LIMIT, kResyncLimit, 0);
            // pread left the descriptor's offset at the start, where libmpg123 begins.
            if (mpg123_open_fd(mh.handle, file.fd) == MPG123_OK) {
                long rate = 0;
                int channels = 0, encoding = 0;
                mpg123_getformat(mh.handle, &rate, &channels, &encoding);  // reads the tags
                mpg123_id3v1* v1 = nullptr;
                mpg123_id3v2* v2 = nullptr;
                if (mpg123_id3(mh.handle, &v1, &v2) == MPG123_OK && v2) readTxxx(*v2, found.txxx);
                unsigned char *raw1 = nullptr, *raw2 = nullptr;
                size_t raw1Size = 0, raw2Size = 0;
                if (mpg123_id3_raw(mh.handle, &raw1, &raw1Size, &raw2, &raw2Size) == MPG123_OK &&
                    raw2)
                    readId3v2Frames(raw2, raw2Size, found.rva2);
                mpg123_close(mh.handle);
            }
        }
    }
    ReplayGainTags tags;
    merge(tags, {&found.rva2, &found.txxx, &found.lame});
    return tags;
}
