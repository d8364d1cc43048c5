#include "support/tone_files.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("command failed: " + command);
}

std::string makeSineMp3(const std::string& dir, const std::string& name, const std::string& sine,
                        double seconds, const ToneOptions& options) {
    const std::string wav = dir + "/" + name + ".source.wav";
    const std::string mp3 = dir + "/" + name;
    std::ostringstream sox;
    sox << "sox -D -n -r " << options.rate << " -c " << options.channels << " -b 16 " << quoted(wav)
        << " synth " << seconds << " sine " << sine << " vol " << options.amplitude;
    run(sox.str());
    std::ostringstream lame;
    lame << "lame --quiet --resample " << options.rate / 1000.0
         << (options.channels == 1 ? " -m m" : "") << (options.vbr ? " -V 4" : " -b 128 --cbr")
         << (options.infoTag ? "" : " -t") << (options.replayGain ? "" : " --noreplaygain");
    if (!options.title.empty()) lame << " --tt " << quoted(options.title);
    if (!options.artist.empty()) lame << " --ta " << quoted(options.artist);
    if (!options.album.empty()) lame << " --tl " << quoted(options.album);
    lame << " " << quoted(wav) << " " << quoted(mp3);
    run(lame.str());
    std::remove(wav.c_str());
    return mp3;
}

}  // namespace

std::string makeToneMp3(const std::string& dir, const std::string& name, double frequencyHz,
                        double seconds, const ToneOptions& options) {
    std::ostringstream sine;
    sine << frequencyHz;
    return makeSineMp3(dir, name, sine.str(), seconds, options);
}

std::string makeSweepMp3(const std::string& dir, const std::string& name, double fromHz,
                         double toHz, double seconds, const ToneOptions& options) {
    std::ostringstream sine;
    sine << fromHz << "-" << toHz;  // sox: an exponential sweep
    return makeSineMp3(dir, name, sine.str(), seconds, options);
}

DecodedAudio readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u16 = [&](std::size_t at) {
        std::uint16_t v;
        std::memcpy(&v, bytes.data() + at, 2);
        return v;
    };
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        throw std::runtime_error("not a WAV file: " + path);
    DecodedAudio audio;
    int bits = 0;
    int format = 0;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        std::size_t size = u32(at + 4);
        const std::size_t body = at + 8;
        if (id == "data") {
            size = std::min(size, bytes.size() - body);  // a streamed header may say 0 or more
            if (bits == 16) {
                for (std::size_t i = 0; i + 2 <= size; i += 2)
                    audio.samples.push_back(static_cast<std::int16_t>(u16(body + i)) / 32768.0f);
            } else if (bits == 32 && format == 3) {
                audio.samples.resize(size / 4);
                std::memcpy(audio.samples.data(), bytes.data() + body, audio.samples.size() * 4);
            } else {
                throw std::runtime_error("unsupported WAV sample format: " + path);
            }
            return audio;
        }
        if (id == "fmt ") {
            format = u16(body);
            audio.channels = u16(body + 2);
            audio.rate = static_cast<int>(u32(body + 4));
            bits = u16(body + 14);
            if (format == 0xFFFE) format = u16(body + 24);  // WAVE_FORMAT_EXTENSIBLE sub-format
        }
        at = body + size + (size & 1);
    }
    throw std::runtime_error("no data in WAV file: " + path);
}

DecodedAudio decodeWithMpg123(const std::string& mp3Path) {
    const std::string wav = mp3Path + ".mpg123.wav";
    run("mpg123 -q -e f32 -w " + quoted(wav) + " " + quoted(mp3Path));
    DecodedAudio audio = readWav(wav);
    std::remove(wav.c_str());
    return audio;
}
