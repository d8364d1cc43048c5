#include "engine/loudness/file_loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "engine/deck/stereo_frame.h"
#include "engine/decode/mp3_decoder.h"

namespace {

// Frames per step: large steps keep the per-call overhead of both libraries small, small
// enough that an abandoned file stops within a moment.
constexpr std::size_t kStepFrames = 64 * 1024;

static_assert(sizeof(StereoFrame) == 2 * sizeof(float), "frames are read as interleaved floats");

struct StateDeleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

// A file whose header promised more than was decoded lost its end: a measure of a part of it
// would be kept as the file's own. Junk skipped inside costs a few frames, no more.
bool cutShort(const Mp3Decoder& decoder, std::int64_t decoded) {
    if (!decoder.lengthIsExact()) return false;
    const std::int64_t tolerance = std::max<std::int64_t>(decoder.rate(), decoder.length() / 50);
    return decoded + tolerance < decoder.length();
}

}  // namespace

namespace FileLoudness {

std::optional<MeasuredLoudness> measure(const std::string& path, const Progress& progress) {
    const auto stopped = [&] { return progress.stop && progress.stop(); };
    Mp3Decoder::Opened opened = Mp3Decoder::open(path, progress.stop);
    if (!opened.decoder) return std::nullopt;
    Mp3Decoder& decoder = *opened.decoder;
    // Mono is doubled, as the decks play it: what is heard from two speakers is measured.
    std::unique_ptr<ebur128_state, StateDeleter> state(ebur128_init(
        2, static_cast<unsigned long>(decoder.rate()), EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK));
    if (!state) return std::nullopt;
    std::vector<StereoFrame> buffer(kStepFrames);
    std::int64_t decoded = 0;
    for (;;) {
        if (stopped()) return std::nullopt;
        const Mp3Decoder::Result result = decoder.read(std::span(buffer));
        if (result.frames > 0 &&
            ebur128_add_frames_float(state.get(), reinterpret_cast<const float*>(buffer.data()),
                                     result.frames) != EBUR128_SUCCESS)
            return std::nullopt;
        decoded += static_cast<std::int64_t>(result.frames);
        if (progress.stepDone) progress.stepDone(decoded);
        if (result.status == Mp3Decoder::Status::Error) return std::nullopt;
        if (result.status == Mp3Decoder::Status::End) break;
        if (result.frames == 0) break;  // nothing more comes
    }
    if (decoded == 0 || cutShort(decoder, decoded)) return std::nullopt;
    MeasuredLoudness measured;
    double left = 0, right = 0;
    if (ebur128_loudness_global(state.get(), &measured.integratedLufs) != EBUR128_SUCCESS ||
        ebur128_sample_peak(state.get(), 0, &left) != EBUR128_SUCCESS ||
        ebur128_sample_peak(state.get(), 1, &right) != EBUR128_SUCCESS)
        return std::nullopt;
    measured.samplePeak = std::max(left, right);
    return measured;
}

}  // namespace FileLoudness
