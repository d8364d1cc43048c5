#include "components/mp3_deck.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "components/audio_output.h"
#include "components/error_sink.h"
#include "components/mp3_decoder.h"

namespace {

using Phase = DeckControl::Phase;
using Word = DeckControl::Word;

constexpr double kStepSeconds = 10.0;

Phase stopped(Phase) {
    return Phase::Stopped;
}
Phase playing(Phase) {
    return Phase::Playing;
}
// A seek keeps playing, paused or stopped; a track that has ended stays where it is put.
Phase keptBySeek(Phase phase) {
    return phase == Phase::Ended ? Phase::Stopped : phase;
}

}  // namespace

Mp3Deck::Mp3Deck(AudioOutput& output, ErrorSink& errors)
    : output(output),
      errors(errors),
      worker(shared, errors, output.rate()),
      registration(output, voice) {}

Mp3Deck::~Mp3Deck() = default;

void Mp3Deck::setFileName(const std::string& name) {
    givenName = name;
    shared.track.fetch_add(1, std::memory_order_relaxed);
    loaded = false;
    openError.clear();
    if (name.empty()) {
        path.clear();
        startEpoch(0, stopped, nullptr, true);
        return;
    }
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(name, ec);
    path = ec ? name : absolute.string();
    openFile();
}

bool Mp3Deck::openFile() {
    const std::uint32_t id = shared.track.load(std::memory_order_relaxed);
    auto opened = Mp3Decoder::open(
        path, [this, id] { return shared.track.load(std::memory_order_relaxed) != id; });
    if (!opened.decoder) {
        openError = opened.error;
        loaded = false;
        startEpoch(0, stopped, nullptr, true);
        return false;
    }
    openError.clear();
    sourceRate = opened.decoder->rate();
    estimatedLength = opened.decoder->length();
    loaded = true;
    startEpoch(0, stopped, std::move(opened.decoder), true);
    return true;
}

std::string Mp3Deck::fileName() const {
    if (givenName.empty()) return {};
    return std::filesystem::path(givenName).filename().string();
}

void Mp3Deck::startEpoch(std::int64_t targetFrame, Phase (*phaseFor)(Phase),
                         std::unique_ptr<Mp3Decoder> decoder, bool replace) {
    epoch = DeckControl::nextEpoch(epoch);
    epochStart = targetFrame;
    auto command = std::make_unique<DecoderWorker::Command>();
    command->epoch = epoch;
    command->target = targetFrame;
    command->replace = replace;
    command->decoder = std::move(decoder);
    command->path = path;
    command->trackId = shared.track.load(std::memory_order_relaxed);
    // Named before the decoder hears of it: the callback drops data of older epochs only.
    shared.control.change([&](Word now) -> std::optional<Word> {
        return Word{epoch, phaseFor(now.phase)};
    });
    worker.post(std::move(command));
}

void Mp3Deck::play() {
    if (givenName.empty()) return;
    if (!loaded && !openFile()) {
        errors.report("Cannot play " + path + ": " + openError);
        return;
    }
    output.ensureOpen();  // reports by itself; without a device the deck waits, silent
    if (shared.control.load(std::memory_order_acquire).phase == Phase::Ended) {
        startEpoch(0, playing);  // from the start again
    } else {
        shared.control.change([&](Word now) -> std::optional<Word> {
            if (now.phase != Phase::Paused && now.phase != Phase::Stopped) return std::nullopt;
            return Word{now.epoch, Phase::Playing};
        });
    }
    worker.wake();
}

void Mp3Deck::pause() {
    shared.control.change([&](Word now) -> std::optional<Word> {
        if (now.phase != Phase::Playing) return std::nullopt;
        return Word{now.epoch, Phase::Paused};
    });
}

void Mp3Deck::stop() {
    if (!loaded) return;
    const Word now = shared.control.load(std::memory_order_acquire);
    if (now.phase == Phase::Stopped && epochStart == 0) return;  // nothing to rewind
    startEpoch(0, stopped);
}

int Mp3Deck::playState() const {
    switch (shared.control.load(std::memory_order_acquire).phase) {
        case Phase::Playing:
            return Playing;
        case Phase::Paused:
            return Paused;
        default:
            return Stopped;
    }
}

double Mp3Deck::duration() const {
    if (!loaded || sourceRate <= 0) return 0;
    const std::uint64_t exact = shared.exactLength.load(std::memory_order_acquire);
    const std::uint32_t track = shared.track.load(std::memory_order_relaxed);
    const std::int64_t frames = DeckStream::epochOf(exact) == (track & DeckControl::kEpochMask)
                                    ? static_cast<std::int64_t>(DeckStream::indexOf(exact))
                                    : estimatedLength;
    return static_cast<double>(frames) / sourceRate;
}

double Mp3Deck::currentPosition() const {
    if (!loaded || sourceRate <= 0) return 0;
    if (shared.control.load(std::memory_order_acquire).phase == Phase::Ended) return 0;  // rewound
    const std::uint64_t playedMark = shared.played.load(std::memory_order_acquire);
    const std::uint64_t segmentMark = shared.segment.load(std::memory_order_acquire);
    std::int64_t frames = 0;
    if (DeckStream::epochOf(playedMark) == epoch && DeckStream::epochOf(segmentMark) == epoch)
        frames = std::max<std::int64_t>(0, DeckStream::distance(DeckStream::indexOf(segmentMark),
                                                                DeckStream::indexOf(playedMark)));
    const double position =
        static_cast<double>(epochStart) / sourceRate + static_cast<double>(frames) / output.rate();
    return std::min(position, duration());
}

void Mp3Deck::setVolume(int volume) {
    volume = std::clamp(volume, -10000, 0);
    shared.gain.store(volume <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, volume / 2000.0)),
                      std::memory_order_relaxed);
}

void Mp3Deck::seekTo(double seconds) {
    startEpoch(std::llround(seconds * sourceRate), keptBySeek);
}

void Mp3Deck::stepForward() {
    if (!loaded) return;
    const double target = currentPosition() + kStepSeconds;
    if (target >= duration()) {  // past the end: the track is over
        startEpoch(0, stopped);
        return;
    }
    seekTo(target);
}

void Mp3Deck::stepBack() {
    if (!loaded) return;
    seekTo(std::max(0.0, currentPosition() - kStepSeconds));
}
