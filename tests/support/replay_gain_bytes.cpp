#include "support/replay_gain_bytes.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

std::string synchsafe(std::size_t n) {
    return {char((n >> 21) & 0x7F), char((n >> 14) & 0x7F), char((n >> 7) & 0x7F), char(n & 0x7F)};
}

std::string frame(const std::string& id, const std::string& content) {
    return id + synchsafe(content.size()) + std::string(2, '\0') + content;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Where the LAME extension starts in the file's first frame (no ID3v2 before it).
std::size_t lameExtension(const std::string& bytes) {
    for (const char* name : {"Info", "Xing"}) {
        const std::size_t at = bytes.find(name);
        if (at == std::string::npos || at > 64) continue;
        const auto flags = static_cast<unsigned char>(bytes[at + 7]);
        const std::size_t extension = at + 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) +
                                      (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
        if (bytes.compare(extension, 4, "LAME") == 0 || bytes.compare(extension, 2, "L3") == 0)
            return extension;
    }
    throw std::runtime_error("no LAME header");
}

}  // namespace

namespace ReplayGainBytes {

std::string id3v24Tag(const std::vector<std::string>& frames) {
    std::string body;
    for (const std::string& f : frames) body += f;
    body += std::string(64, '\0');  // padding, as tag writers leave it
    return std::string("ID3\x04\x00\x00", 6) + synchsafe(body.size()) + body;
}

std::string txxxFrame(const std::string& description, const std::string& value) {
    return frame("TXXX", std::string("\x03", 1) + description + std::string(1, '\0') + value);
}

std::string rva2FrameUnits(const std::string& identification, int gainUnits) {
    const auto units = static_cast<std::uint16_t>(static_cast<std::int16_t>(gainUnits));
    std::string content = identification + std::string(1, '\0');
    content += '\x01';  // master volume
    content += char(units >> 8);
    content += char(units & 0xFF);
    return frame("RVA2", content + std::string(1, '\0'));  // no peak
}

std::string rva2Frame(const std::string& identification, double gainDb, double peak) {
    const auto units =
        static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(gainDb * 512)));
    const auto peakValue = static_cast<std::uint16_t>(std::lround(peak * 32768));
    std::string content = identification + std::string(1, '\0');
    content += '\x01';
    content += char(units >> 8);
    content += char(units & 0xFF);
    content += char(16);
    content += char(peakValue >> 8);
    content += char(peakValue & 0xFF);
    return frame("RVA2", content);
}

void setLameTrackGain(const std::string& path, double gainDb) {
    std::string bytes = readAll(path);
    const std::size_t field = lameExtension(bytes) + 15;
    const int tenths = static_cast<int>(std::lround(std::fabs(gainDb) * 10));
    // Name 1 (radio), originator 3 (set automatically), sign, nine bits of tenths.
    bytes[field] = char(1 << 5 | 3 << 2 | (gainDb < 0 ? 2 : 0) | ((tenths >> 8) & 1));
    bytes[field + 1] = char(tenths & 0xFF);
    writeAll(path, bytes);
}

void setLameEncoder(const std::string& path, const std::string& nineBytes) {
    std::string bytes = readAll(path);
    bytes.replace(lameExtension(bytes), 9, nineBytes.substr(0, 9));
    writeAll(path, bytes);
}

void setLamePeak(const std::string& path, double peak) {
    std::string bytes = readAll(path);
    const std::size_t field = lameExtension(bytes) + 11;
    const auto value = static_cast<std::uint32_t>(std::lround(peak * (1 << 23)));
    for (int i = 0; i < 4; ++i) bytes[field + i] = char(value >> (24 - 8 * i));
    writeAll(path, bytes);
}

}  // namespace ReplayGainBytes
