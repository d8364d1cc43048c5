#include "components/mp3_deck.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <span>
#include <vector>

#include "components/audio_output.h"
#include "components/error_sink.h"
#include "components/linear_resampler.h"
#include "components/mp3_decoder.h"

namespace {

// Words that cross threads pack a 24-bit epoch (or track) number with a 40-bit count, so that
// one atomic load gives both (40 bits of frames last 265 days at 48 kHz).
constexpr std::uint64_t kCountMask = (1ull << 40) - 1;
constexpr std::uint32_t kEpochMask = (1u << 24) - 1;

std::uint64_t pack(std::uint32_t epoch, std::uint64_t count) {
    return (static_cast<std::uint64_t>(epoch & kEpochMask) << 40) | (count & kCountMask);
}
std::uint32_t epochOf(std::uint64_t word) {
    return static_cast<std::uint32_t>(word >> 40);
}
std::uint64_t countOf(std::uint64_t word) {
    return word & kCountMask;
}

std::uint64_t controlWord(std::uint32_t epoch, int state) {
    return (static_cast<std::uint64_t>(epoch) << 8) | static_cast<std::uint64_t>(state);
}
int stateOf(std::uint64_t control) {
    return static_cast<int>(control & 0xff);
}

// Ring of about 340 ms at 48 kHz: room for a VBR scan or a slow disk; latency does not depend
// on it, since pause, volume and seeks act where the callback reads.
constexpr std::size_t kRingFrames = 16384;
constexpr std::size_t kDecodeFrames = 2304;  // two MPEG-1 layer III frames
constexpr double kStepSeconds = 10.0;

}  // namespace

struct Mp3Deck::Command {
    std::uint32_t epoch = 0;
    std::int64_t target = 0;  // source frame to start from
    bool replace = false;     // a new file (or none): decoder, path and trackId apply
    std::unique_ptr<Mp3Decoder> decoder;
    std::string path;
    std::uint32_t trackId = 0;
};

Mp3Deck::Mp3Deck(AudioOutput& output, ErrorSink& errors)
    : output(output), errors(errors), ring(kRingFrames) {
    output.addSource(this);
    decoderThread = std::thread(&Mp3Deck::decoderLoop, this);
}

Mp3Deck::~Mp3Deck() {
    output.removeSource(this);
    {
        std::lock_guard lock(mailboxMutex);
        quit = true;
    }
    track.fetch_add(1);  // abandons a scan under way
    mailboxChanged.notify_all();
    decoderThread.join();
}

// ---- UI thread ----

void Mp3Deck::setFileName(const std::string& name) {
    givenName = name;
    track.fetch_add(1);
    loaded = false;
    openError.clear();
    stateSetByUi = Stopped;
    atStart = true;
    if (name.empty()) {
        path.clear();
        startEpoch(0, Stopped, nullptr, true);
        return;
    }
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(name, ec);
    path = ec ? name : absolute.string();
    openFile();
}

bool Mp3Deck::openFile() {
    const std::uint32_t id = track.load();
    auto opened = Mp3Decoder::open(path, [this, id] { return track.load() != id; });
    if (!opened.decoder) {
        openError = opened.error;
        loaded = false;
        startEpoch(0, Stopped, nullptr, true);
        return false;
    }
    openError.clear();
    sourceRate = opened.decoder->rate();
    estimatedLength = opened.decoder->length();
    loaded = true;
    startEpoch(0, Stopped, std::move(opened.decoder), true);
    return true;
}

std::string Mp3Deck::fileName() const {
    if (givenName.empty()) return {};
    return std::filesystem::path(givenName).filename().string();
}

void Mp3Deck::startEpoch(std::int64_t targetFrame, int state, std::unique_ptr<Mp3Decoder> decoder,
                         bool replace) {
    ++epoch;
    epochStart = targetFrame;
    auto command = std::make_unique<Command>();
    command->epoch = epoch;
    command->target = targetFrame;
    command->replace = replace;
    command->decoder = std::move(decoder);
    command->path = path;
    command->trackId = track.load();
    // The new epoch must be visible before the decoder can publish data for it: the callback
    // drops data of older epochs only.
    control.store(controlWord(epoch, state));
    {
        std::lock_guard lock(mailboxMutex);
        if (pending && pending->replace && !replace) {
            command->replace = true;
            command->decoder = std::move(pending->decoder);
            command->path = pending->path;
            command->trackId = pending->trackId;
        }
        pending = std::move(command);
    }
    mailboxChanged.notify_one();
}

void Mp3Deck::wakeDecoder() {
    { std::lock_guard lock(mailboxMutex); }
    mailboxChanged.notify_one();
}

void Mp3Deck::play() {
    if (givenName.empty()) return;
    if (!loaded && !openFile()) {
        errors.report("Cannot play " + path + ": " + openError);
        return;
    }
    output.ensureOpen();  // reports by itself; without a device the deck waits, silent
    const int state = playState();
    if (state == Paused) {
        control.store(controlWord(epoch, Playing));
    } else if (state == Stopped) {
        if (stateSetByUi == Playing)  // it ended by itself: from the start again
            startEpoch(0, Playing, nullptr, false);
        else
            control.store(controlWord(epoch, Playing));
    }
    stateSetByUi = Playing;
    atStart = false;
    wakeDecoder();
}

void Mp3Deck::pause() {
    std::uint64_t expected = controlWord(epoch, Playing);
    if (control.compare_exchange_strong(expected, controlWord(epoch, Paused)))
        stateSetByUi = Paused;
}

void Mp3Deck::stop() {
    if (!loaded) return;
    if (atStart && playState() == Stopped) return;  // nothing to rewind
    startEpoch(0, Stopped, nullptr, false);
    stateSetByUi = Stopped;
    atStart = true;
}

int Mp3Deck::playState() const {
    return stateOf(control.load());
}

double Mp3Deck::duration() const {
    if (!loaded || sourceRate <= 0) return 0;
    const std::uint64_t exact = exactLength.load();
    const std::int64_t frames = epochOf(exact) == (track.load() & kEpochMask)
                                    ? static_cast<std::int64_t>(countOf(exact))
                                    : estimatedLength;
    return static_cast<double>(frames) / sourceRate;
}

double Mp3Deck::currentPosition() const {
    if (!loaded || sourceRate <= 0) return 0;
    if (playState() == Stopped && stateSetByUi == Playing) return 0;  // ended: rewound
    const std::uint64_t word = played.load(std::memory_order_acquire);
    const std::uint64_t frames = epochOf(word) == (epoch & kEpochMask) ? countOf(word) : 0;
    const double position =
        static_cast<double>(epochStart) / sourceRate + static_cast<double>(frames) / output.rate();
    return std::min(position, duration());
}

void Mp3Deck::setVolume(int volume) {
    volume = std::clamp(volume, -10000, 0);
    gain.store(volume <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, volume / 2000.0)));
}

void Mp3Deck::seekTo(double seconds) {
    int state = playState();
    if (state == Stopped) stateSetByUi = Stopped;  // a track that ended stays where we put it
    atStart = false;
    startEpoch(std::llround(seconds * sourceRate), state, nullptr, false);
}

void Mp3Deck::stepForward() {
    if (!loaded) return;
    const double target = currentPosition() + kStepSeconds;
    if (target >= duration()) {  // past the end: the track is over
        startEpoch(0, Stopped, nullptr, false);
        stateSetByUi = Stopped;
        atStart = true;
        return;
    }
    seekTo(target);
}

void Mp3Deck::stepBack() {
    if (!loaded) return;
    seekTo(std::max(0.0, currentPosition() - kStepSeconds));
}

// ---- audio thread ----

void Mp3Deck::mixInto(StereoFrame* out, int frames) noexcept {
    const std::uint64_t ctl = control.load(std::memory_order_acquire);
    const std::uint32_t e = static_cast<std::uint32_t>(ctl >> 8) & kEpochMask;
    const int state = stateOf(ctl);
    const std::uint64_t w = ring.publishedWriteIndex();
    const std::uint64_t seg = segment.load(std::memory_order_acquire);
    if (epochOf(seg) != e) {
        // Older: everything below w is stale (data of epoch e follows its mark). Newer: our
        // control word was read just before a command; next time.
        if (((e - epochOf(seg)) & kEpochMask) < (kEpochMask / 2)) ring.releaseTo(w);
        return;
    }
    // w was read before the mark, so the mark may lie beyond it: then nothing below w is ours.
    const std::uint64_t pastStart = (w - countOf(seg)) & kCountMask;
    if (pastStart > kCountMask / 2) {
        ring.releaseTo(w);
        played.store(pack(e, 0), std::memory_order_release);
        return;
    }
    const std::uint64_t start = w - pastStart;
    std::uint64_t r = ring.readIndex();
    if (r < start) {
        r = start;
        ring.releaseTo(r);
    }
    if (state != Playing || frames == 0) {
        // Silent now: the next sound starts at the gain set, without a ramp from an old one.
        if (frames > 0) sounding = false;
        played.store(pack(e, r - start), std::memory_order_release);
        return;
    }
    const int n = static_cast<int>(std::min<std::uint64_t>(w - r, frames));
    // Ramp to a new gain across one buffer: heard within it, without a click.
    const float to = gain.load(std::memory_order_relaxed);
    const float from = sounding ? appliedGain : to;
    sounding = true;
    const float step = (to - from) / static_cast<float>(frames);
    for (int i = 0; i < n; ++i) {
        const float g = from + step * static_cast<float>(i + 1);
        const StereoFrame& f = ring.at(r + i);
        out[i].left += f.left * g;
        out[i].right += f.right * g;
    }
    appliedGain = to;
    r += n;
    ring.releaseTo(r);
    played.store(pack(e, r - start), std::memory_order_release);
    if (n < frames) {
        const std::uint64_t end = endMark.load(std::memory_order_acquire);
        if (epochOf(end) == e && countOf(end) == (r & kCountMask)) {
            std::uint64_t expected = ctl;
            control.compare_exchange_strong(expected, (ctl & ~0xffull) | Stopped);
        } else {
            underruns.fetch_add(static_cast<std::uint64_t>(frames - n), std::memory_order_relaxed);
        }
    }
}

void Mp3Deck::outputLost() noexcept {
    std::uint64_t ctl = control.load();
    while (stateOf(ctl) == Playing) {
        if (control.compare_exchange_weak(ctl, (ctl & ~0xffull) | Stopped)) {
            lostWhilePlaying.store(true);
            break;
        }
    }
}

bool Mp3Deck::readyFor(int frames) const {
    const std::uint64_t ctl = control.load();
    if (stateOf(ctl) != Playing) return true;
    const std::uint32_t e = static_cast<std::uint32_t>(ctl >> 8) & kEpochMask;
    const std::uint64_t seg = segment.load();
    if (epochOf(seg) != e) return false;
    const std::uint64_t end = endMark.load();
    if (epochOf(end) == e) return true;
    const std::uint64_t w = ring.publishedWriteIndex();
    const std::uint64_t pastStart = (w - countOf(seg)) & kCountMask;
    if (pastStart > kCountMask / 2) return false;
    const std::uint64_t start = w - pastStart;
    return w - std::max(start, ring.readIndex()) >= static_cast<std::uint64_t>(frames);
}

// ---- decoder thread ----

void Mp3Deck::decoderLoop() {
    std::unique_ptr<Mp3Decoder> decoder;
    std::string file;
    std::uint32_t trackId = 0;
    std::uint32_t e = 0;
    bool ended = true;
    bool finishing = false;  // the decoder is done; what is left goes into the ring, then the end
    std::string failure;
    bool scanned = true;
    LinearResampler resampler;
    std::vector<StereoFrame> decoded(kDecodeFrames);
    std::vector<StereoFrame> converted;
    converted.reserve(kDecodeFrames * 3);
    std::size_t convertedPos = 0;
    auto abandoned = [&] { return track.load() != trackId; };

    for (;;) {
        std::unique_ptr<Command> command;
        {
            std::lock_guard lock(mailboxMutex);
            if (quit) break;
            command = std::move(pending);
        }
        if (command) {
            if (command->replace) {
                decoder = std::move(command->decoder);  // the old file closes here
                file = command->path;
                trackId = command->trackId;
                scanned = !decoder || decoder->lengthIsExact();
            }
            e = command->epoch;
            converted.clear();
            convertedPos = 0;
            finishing = false;
            failure.clear();
            ended = true;
            if (decoder) {
                if (decoder->seek(command->target) >= 0) {
                    resampler.reset(decoder->rate(), output.rate());
                    ended = false;
                } else if (!abandoned()) {
                    errors.report("Cannot play " + file + ": cannot seek in the file");
                }
            }
            segment.store(pack(e, ring.writeIndex()), std::memory_order_release);
            if (ended) endMark.store(pack(e, ring.writeIndex()), std::memory_order_release);
            continue;
        }
        if (lostWhilePlaying.exchange(false))
            errors.report("Sound output lost while playing " + file);

        bool worked = false;
        if (decoder && !ended) {
            if (convertedPos < converted.size()) {
                const std::size_t n =
                    ring.write(std::span<const StereoFrame>(converted).subspan(convertedPos));
                convertedPos += n;
                worked = n > 0;
            }
            if (convertedPos == converted.size()) {
                if (finishing) {
                    endMark.store(pack(e, ring.writeIndex()), std::memory_order_release);
                    ended = true;
                    if (!failure.empty() && !abandoned())
                        errors.report("Playback of " + file + " ended early: " + failure);
                } else {
                    const auto result = decoder->read(decoded);
                    converted.clear();
                    convertedPos = 0;
                    resampler.process(std::span<const StereoFrame>(decoded.data(), result.frames),
                                      converted);
                    if (result.status != Mp3Decoder::Status::Ok) {
                        resampler.finish(converted);
                        finishing = true;
                        if (result.status == Mp3Decoder::Status::Error) failure = result.error;
                    }
                }
                worked = true;
            }
        }
        if (!worked && decoder && !scanned) {
            // The ring is full (or the file ended): time for the exact length, which only a
            // file without an Info/Xing header needs.
            scanned = true;
            if (decoder->scan() && !abandoned())
                exactLength.store(pack(trackId, static_cast<std::uint64_t>(decoder->length())));
            continue;
        }
        if (worked) continue;
        const bool playing = playState() == Playing;
        std::unique_lock lock(mailboxMutex);
        mailboxChanged.wait_for(
            lock, playing ? std::chrono::milliseconds(4) : std::chrono::milliseconds(100),
            [&] { return quit || pending != nullptr; });
    }
}
