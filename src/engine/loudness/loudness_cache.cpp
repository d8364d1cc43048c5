#include "engine/loudness/loudness_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "shared/safe_file.h"

namespace {

constexpr std::string_view kHeader = "velmor-mp3-player loudness 1\n";
// The longest path Linux opens; a longer one is not worth a line.
constexpr std::size_t kMaxPathBytes = 4096;
// A line at its longest: the path with every byte escaped as %XX, two whole numbers, two
// doubles as to_chars spells them at their longest, and the tabs and newline between them.
constexpr std::size_t kMaxLineBytes = 3 * kMaxPathBytes + 2 * 20 + 2 * 24 + 5;

// Bytes that would break a line or a field, the escape itself and everything beyond ASCII are
// written as %XX, so any path survives the file and the file stays plain text.
std::string escaped(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte >= 0x7F) return std::nullopt;  // never written bare
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        const char decoded = static_cast<char>(high << 4 | low);
        if (decoded == '\0') return std::nullopt;  // no path holds one
        out += decoded;
        i += 2;
    }
    return out;
}

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string number(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("nan");
}

bool storable(const FileIdentity& identity) {
    return !identity.path.empty() && identity.path.size() <= kMaxPathBytes &&
           identity.path.find('\0') == std::string::npos && identity.size >= 0;
}

// One line: size, modification time, loudness, peak, path; fields split by tabs, which the
// escaped path cannot hold.
std::optional<LoudnessCache::Entry> parseLine(std::string_view line) {
    std::string_view fields[5];
    for (int i = 0; i < 4; ++i) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return std::nullopt;
        fields[i] = line.substr(0, tab);
        line.remove_prefix(tab + 1);
    }
    fields[4] = line;
    const auto size = wholeNumber<std::int64_t>(fields[0]);
    const auto modified = wholeNumber<std::int64_t>(fields[1]);
    const auto lufs = wholeNumber<double>(fields[2]);
    const auto peak = wholeNumber<double>(fields[3]);
    auto path = unescaped(fields[4]);
    if (!size || !modified || !lufs || !peak || !path) return std::nullopt;
    LoudnessCache::Entry entry{{std::move(*path), *size, *modified}, {*lufs, *peak}};
    if (!storable(entry.identity) || !LoudnessBounds::plausible(entry.measured))
        return std::nullopt;
    return entry;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool makeDirectories(const std::string& directory, std::string& error) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

// The bytes of the cache file, none where there is none yet; false with a cause where it is
// there but cannot be read, or cannot be the cache's.
bool readWhole(const std::string& file, std::size_t largest, std::string& bytes,
               std::string& error) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        const int cause = errno;
        if (cause == ENOENT || cause == ENOTDIR) return true;
        error = "cannot look at " + file + ": " + std::strerror(cause);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = file + " is not a regular file";
        return false;
    }
    if (static_cast<std::size_t>(st.st_size) > largest) {
        error = file + " is larger than the cache ever writes";
        return false;
    }
    return SafeFile::readAll(file, bytes, error);
}

}  // namespace

std::optional<FileIdentity> identifyFile(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileIdentity{
        path, static_cast<std::int64_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

LoudnessCache::LoudnessCache(std::string file, std::size_t capacity)
    : file(std::move(file)), capacity(capacity == 0 ? 1 : capacity) {}

std::optional<MeasuredLoudness> LoudnessCache::find(const FileIdentity& identity) {
    loadOnce();
    const auto found = byPath.find(identity.path);
    if (found == byPath.end()) return std::nullopt;
    const Entry& entry = *found->second;
    if (entry.identity.size != identity.size || entry.identity.modifiedNs != identity.modifiedNs)
        return std::nullopt;
    // In use again: among the newest kept.
    entries.splice(entries.end(), entries, found->second);
    return entry.measured;
}

void LoudnessCache::store(const FileIdentity& identity, const MeasuredLoudness& measured) {
    loadOnce();
    if (!storable(identity) || !LoudnessBounds::plausible(measured)) return;
    insert({identity, measured});
    dirty = true;
}

void LoudnessCache::insert(Entry entry) {
    if (const auto old = byPath.find(entry.identity.path); old != byPath.end()) {
        entries.erase(old->second);
        byPath.erase(old);
    }
    entries.push_back(std::move(entry));
    byPath[entries.back().identity.path] = std::prev(entries.end());
    while (entries.size() > capacity) {
        byPath.erase(entries.front().identity.path);
        entries.pop_front();
    }
}

std::size_t LoudnessCache::largestFile(std::size_t capacity) {
    return kHeader.size() + std::max<std::size_t>(capacity, 1) * kMaxLineBytes;
}

bool LoudnessCache::load(std::string& error) {
    if (state == State::Read) return true;
    // Unread or Unreadable from here: either may end Read, or (again) Unreadable.
    assert(state == State::Unread || state == State::Unreadable);
    std::string bytes;
    if (!file.empty() && !readWhole(file, largestFile(capacity), bytes, error)) {
        state = State::Unreadable;
        return false;
    }
    // What this run measured before the file could be read is newer than what it holds.
    std::list<Entry> ours = std::move(entries);
    entries.clear();
    byPath.clear();
    for (Entry& entry : parse(bytes)) insert(std::move(entry));
    for (Entry& entry : ours) insert(std::move(entry));
    state = State::Read;
    return true;
}

void LoudnessCache::loadOnce() {
    if (state != State::Unread) return;
    std::string error;
    load(error);
}

bool LoudnessCache::save(std::string& error) {
    if (!dirty || file.empty()) return true;
    // A file that could not be read is never written over: its measures would be lost, or it
    // is not ours. It is read again first, and written once it can be.
    if (!load(error)) {
        error += "; it is left as it is";
        return false;
    }
    if (!makeDirectories(directoryOf(file), error)) return false;
    // The cache is ours alone: a link in its place is replaced, never written through.
    if (!SafeFile::replace(file, serialize(entries), error, SafeFile::Links::Replace)) return false;
    dirty = false;
    return true;
}

std::string LoudnessCache::serialize(const std::list<Entry>& entries) {
    std::string out(kHeader);
    for (const Entry& entry : entries) {
        out += std::to_string(entry.identity.size) + '\t' +
               std::to_string(entry.identity.modifiedNs) + '\t' +
               number(entry.measured.integratedLufs) + '\t' + number(entry.measured.samplePeak) +
               '\t' + escaped(entry.identity.path) + '\n';
    }
    return out;
}

std::list<LoudnessCache::Entry> LoudnessCache::parse(const std::string& bytes) {
    std::list<Entry> parsed;
    const std::string_view text(bytes);
    if (!text.starts_with(kHeader)) return parsed;  // not ours, or of another format
    // A last line without its end was cut short by whatever wrote it: dropped.
    for (std::size_t at = kHeader.size(); at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) break;
        if (auto entry = parseLine(text.substr(at, end - at))) parsed.push_back(std::move(*entry));
        at = end + 1;
    }
    return parsed;
}

std::string loudnessCacheFile(const std::string& cacheHome) {
    return cacheHome + "/velmor-mp3-player/loudness";
}
