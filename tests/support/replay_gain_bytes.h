#pragma once

#include <string>
#include <vector>

// ReplayGain as files carry it, written byte by byte for the tests: ID3v2.4 frames and the
// LAME header's gain fields.
namespace ReplayGainBytes {

// An ID3v2.4 tag holding `frames` (each a whole frame, header included).
std::string id3v24Tag(const std::vector<std::string>& frames);
// A TXXX frame, its text in UTF-8.
std::string txxxFrame(const std::string& description, const std::string& value);
// An RVA2 frame for the master volume: gain in 1/512 dB, the peak in 16 bits (of 2^15).
std::string rva2Frame(const std::string& identification, double gainDb, double peak);
// A raw RVA2 frame whose gain field holds `gainUnits` (1/512 dB each), for values no tag
// writer would choose.
std::string rva2FrameUnits(const std::string& identification, int gainUnits);

// Sets the LAME header's first gain field of the MP3 file at `path` (radio: the track's) to
// `gainDb`, in tenths; throws when the file has no LAME header.
void setLameTrackGain(const std::string& path, double gainDb);
// Sets the encoder's name and version the LAME header gives (nine bytes, e.g. "LAME3.90 ").
void setLameEncoder(const std::string& path, const std::string& nineBytes);
// Sets the LAME header's peak field (9.23 fixed point).
void setLamePeak(const std::string& path, double peak);

}  // namespace ReplayGainBytes
