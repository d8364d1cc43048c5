#include "engine/loudness_cache.h"

#include <sys/stat.h>
#include <unistd.h>

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
// Far beyond what the newest entries take (about 100 bytes each): a larger file is not ours.
constexpr off_t kMaxFileBytes = 64 * 1024 * 1024;

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

bool plausible(const MeasuredLoudness& measured) {
    const double lufs = measured.integratedLufs;
    return !std::isnan(lufs) && lufs < 100 && (std::isfinite(lufs) || lufs < 0) &&
           std::isfinite(measured.samplePeak) && measured.samplePeak >= 0;
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
    if (!storable(entry.identity) || !plausible(entry.measured)) return std::nullopt;
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
    load();
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
    load();
    if (!storable(identity) || !plausible(measured)) return;
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

void LoudnessCache::load() {
    if (loaded) return;
    loaded = true;
    if (file.empty()) return;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes)
        return;
    std::string bytes;
    std::string error;
    if (!SafeFile::readAll(file, bytes, error)) return;
    for (Entry& entry : parse(bytes)) insert(std::move(entry));
}

bool LoudnessCache::save(std::string& error) {
    if (!dirty || file.empty()) return true;
    if (!makeDirectories(directoryOf(file), error)) return false;
    if (!SafeFile::replace(file, serialize(entries), error)) return false;
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
