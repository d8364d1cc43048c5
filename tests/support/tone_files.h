#pragma once

#include <string>
#include <vector>

// MP3 test files made at test time: a sine tone from sox, encoded with lame.
struct ToneOptions {
    int rate = 44100;
    int channels = 2;
    bool vbr = false;        // lame -V 4 (with a Xing header) instead of 128 kbit/s CBR
    bool infoTag = true;     // false: lame -t, no Xing/Info/LAME header at all
    double amplitude = 0.5;  // peak, of full scale
    bool replayGain = true;  // false: lame --noreplaygain, no gain in the LAME header
    // Tags lame writes (ID3v1 and ID3v2, as lame chooses); none when all are empty.
    std::string title{}, artist{}, album{};
};

// Writes dir/name and returns its full path; throws std::runtime_error when a tool fails.
std::string makeToneMp3(const std::string& dir, const std::string& name, double frequencyHz,
                        double seconds, const ToneOptions& options = {});

// A sine whose frequency rises exponentially from `fromHz` to `toHz`: what sounds tells where in
// the file it is.
std::string makeSweepMp3(const std::string& dir, const std::string& name, double fromHz,
                         double toHz, double seconds, const ToneOptions& options = {});

// What the mpg123 command decodes from a file (float samples, interleaved).
struct DecodedAudio {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;
    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};
DecodedAudio decodeWithMpg123(const std::string& mp3Path);

// Reads a WAV file of 16-bit or 32-bit float samples.
DecodedAudio readWav(const std::string& path);
