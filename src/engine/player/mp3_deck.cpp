#include "engine/player/mp3_deck.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "components/absolute_path.h"
#include "components/error_sink.h"
#include "components/window_waits.h"
#include "engine/loudness/loudness_service.h"
#include "engine/output/audio_output.h"

namespace {

using Phase = DeckControl::Phase;
using Word = DeckControl::Word;

constexpr double kStepSeconds = 10.0;
constexpr std::chrono::seconds kSlowOpen{2};

Phase stopped(Phase) {
    return Phase::Stopped;
}
Phase playing(Phase) {
    return Phase::Playing;
}

LevellingMode modeOf(Deck::Levelling levelling) {
    switch (levelling) {
        case Deck::Levelling::Track:
            return LevellingMode::Track;
        case Deck::Levelling::Album:
            return LevellingMode::Album;
        case Deck::Levelling::Off:
            break;
    }
    return LevellingMode::Off;
}

}  // namespace

Mp3Deck::Lane::Lane(AudioOutput& output, ErrorSink& errors, const std::string& label)
    : voice(shared, label), worker(shared, errors, output.rate()) {
    registration.emplace(output, voice);
}

Mp3Deck::Mp3Deck(AudioOutput& output, ErrorSink& errors, std::string label)
    : output(output),
      errors(errors),
      epochRate(output.rate()),
      label(std::move(label)),
      lane(std::make_unique<Lane>(output, errors, this->label)) {}

Mp3Deck::~Mp3Deck() = default;

void Mp3Deck::setFileName(const std::string& name) {
    assertUiThread();
    tellDueRefusal();  // before the next file: a skip reads no tick between its files
    givenName = name;
    path = absoluteOrAsGiven(name);
    lane->ui.setPath(path);
    takeFile();
    // After the old file's sound is cut: the new one starts at its own level where it is known.
    askLoudness(path, true);
    aimLevel(false);
}

void Mp3Deck::takeFile() {
    if (cueTrackId == 0 || path != cuePath) {
        requestOpen();
        return;
    }
    // The file cued: open already, and sounding already if the last track has ended.
    trackId = cueTrackId;
    lane->ui.setTrack(trackId);
    cueTrackId = 0;
    cuePath.clear();
    cueGivenName.clear();
    forgetOpen();
    if (lane->shared.control().phase == Phase::Cued) {
        adoptedStart = DeckStream::indexOf(lane->shared.continuation());
        epochStart = 0;
        sendOrders();
        tellOutput();
        return;
    }
    startEpoch(0, stopped);
}

void Mp3Deck::requestOpen() {
    endStrandedLanes();
    trackId = ++lastTrackId;
    std::string refusal;
    if (!StrandedThreads::process().admits(path, refusal)) {
        // Refused before any thread goes near it: the lane in use stays free to leave for a
        // file on a disk that answers.
        refusedTrack = trackId;
    } else if (const auto call = lane->worker.blockingCall();
               call && call->lasted >= kOpenPatience) {
        // A lane whose thread has been inside one file call for kOpenPatience waits on a disk
        // that does not answer, whatever the call: the next file must not wait behind it.
        abandonLane(call->path);
    } else if (!lane->worker.running()) {
        lane = freshLane();  // nothing to wait for: its thread never started; a new one is tried
    }
    lane->ui.setTrack(trackId);
    forgetOpen();
    if (!refusal.empty()) openReport = DecoderWorker::OpenReport{trackId, false, refusal};
    startEpoch(0, stopped);
}

std::unique_ptr<Mp3Deck::Lane> Mp3Deck::freshLane() {
    auto fresh = std::make_unique<Lane>(output, errors, label);
    fresh->ui.setGain(gain);
    fresh->ui.setLevels(level.levels());
    fresh->ui.setPath(path);
    return fresh;
}

void Mp3Deck::abandonLane(const std::string& waitsOn) {
    std::unique_ptr<Lane> stuck = std::exchange(lane, freshLane());
    stuck->registration.reset();  // no callback reads its ring from here on
    tellOutput();
    stuck->stranded = StrandedThreads::process().keep(waitsOn, 2);
    stranded.push_back(std::move(stuck));
    endStrandedLanes();
}

void Mp3Deck::endStrandedLanes() {
    // Not joined here: that would wait for the disk. Should no thread be had for one, it waits
    // for the next file, counted among the abandoned, rather than the window waiting.
    while (!stranded.empty()) {
        Lane* ending = stranded.back().get();
        try {
            std::thread([ending] {
                pthread_setname_np(pthread_self(), "deck lane end");
                delete ending;
            }).detach();
        } catch (const std::system_error&) {
            return;
        }
        static_cast<void>(stranded.back().release());
        stranded.pop_back();
    }
}

bool Mp3Deck::openAnswered() const {
    if (!openReport) openReport = lane->worker.openReport(trackId, std::chrono::milliseconds(0));
    return openReport.has_value();
}

void Mp3Deck::leaveStuckLane() {
    if (givenName.empty() || openAnswered()) return;
    const auto call = lane->worker.blockingCall();
    // A file's own open that hangs would hang a fresh lane too.
    if (!call || call->path == path || call->lasted < kOpenPatience) return;
    const Phase phase = DeckControl::afterSeek(lane->shared.control().phase);
    abandonLane(call->path);
    lane->ui.setTrack(trackId);
    epoch = DeckControl::nextEpoch(epoch);
    epochStart = 0;  // nothing was heard of a file not yet open
    epochRate = outputRate();
    lane->ui.setEpochRate(epoch, epochRate);
    adoptedStart.reset();
    cueTrackId = 0;
    cuePath.clear();
    cueGivenName.clear();
    lane->ui.changeControl([&](Word) -> std::optional<Word> { return Word{epoch, phase}; });
    sendOrders();
    tellOutput();
}

void Mp3Deck::forgetOpen() {
    openReport.reset();
    reportShown = false;
    openAsked = std::chrono::steady_clock::now();
    slowOpenTold = false;
    playAwaitsOpen = false;
    openWaitEnd = openAsked + kOpenPatience;
}

void Mp3Deck::waitForOpenAtMost(std::chrono::milliseconds limit) {
    assertUiThread();
    openWaitEnd = std::min(openWaitEnd, std::chrono::steady_clock::now() + limit);
}

void Mp3Deck::cueNext(const std::string& name) {
    assertUiThread();
    // The watch repeats its cue on every tick near a track's end: the same name costs nothing.
    if (givenName.empty() || (name == cueGivenName && !name.empty())) return;
    cueGivenName = name;
    const std::string wanted = absoluteOrAsGiven(name);
    if (wanted == cuePath) return;
    cuePath = wanted;
    cueTrackId = wanted.empty() ? 0 : ++lastTrackId;
    if (!wanted.empty()) askLoudness(wanted, false);
    aimLevel(true);  // the cued file's level, before any of its frames
    sendOrders();
}

void Mp3Deck::setCrossfade(double seconds) {
    assertUiThread();
    crossfadeSeconds = std::max(seconds, 0.0);
    sendOrders();
}

void Mp3Deck::sendOrders() {
    DecoderWorker::Orders orders;
    orders.trackId = trackId;
    orders.path = trackId == refusedTrack ? std::string() : path;
    orders.epoch = epoch;
    orders.target = epochStart;
    orders.rate = epochRate;
    orders.cueTrackId = cueTrackId;
    orders.cuePath = cuePath;
    orders.crossfade = crossfadeSeconds;
    lane->worker.order(orders);
}

const DecoderWorker::OpenReport* Mp3Deck::opened() const {
    if (!openReport) {
        const auto patience = openWaitEnd - std::chrono::steady_clock::now();
        openReport = lane->worker.openReport(
            trackId, std::max(std::chrono::duration_cast<std::chrono::milliseconds>(patience),
                              std::chrono::milliseconds::zero()));
    }
    return openReport ? &*openReport : nullptr;
}

void Mp3Deck::followOpen() {
    if (givenName.empty()) return;
    const DecoderWorker::OpenReport* report = opened();
    if (!report) {
        if (!slowOpenTold && std::chrono::steady_clock::now() - openAsked >= kSlowOpen) {
            slowOpenTold = true;
            // The file named is the one the stuck call is on, not a healthy one behind it.
            const auto call = lane->worker.blockingCall();
            const bool own = !call || call->path == path;
            errors.report((own ? "Opening " + path : "Reading " + call->path) +
                          " has taken more than 2 s: its disk does not answer");
        }
        return;
    }
    tellDueRefusal();
}

void Mp3Deck::tellDueRefusal() {
    // The deck ends by itself (the decoder marks the empty track's end); the cause is told here.
    if (!playAwaitsOpen || !openAnswered()) return;
    playAwaitsOpen = false;
    if (!openReport->ok) reportRefusal(*openReport);
}

void Mp3Deck::reportRefusal(const DecoderWorker::OpenReport& report) const {
    errors.report("Cannot play " + path + ": " + report.error);
}

std::string Mp3Deck::fileName() const {
    if (givenName.empty()) return {};
    return std::filesystem::path(givenName).filename().string();
}

void Mp3Deck::startEpoch(std::int64_t targetFrame, Phase (*phaseFor)(Phase)) {
    epoch = DeckControl::nextEpoch(epoch);
    epochStart = targetFrame;
    epochRate = outputRate();
    lane->ui.setEpochRate(epoch, epochRate);
    adoptedStart.reset();
    cueTrackId = 0;  // a cue belongs to the epoch it was given in
    cuePath.clear();
    cueGivenName.clear();
    // Named before the decoder hears of it: the callback drops data of older epochs only.
    lane->ui.changeControl([&](Word now) -> std::optional<Word> {
        return Word{epoch, phaseFor(now.phase)};
    });
    sendOrders();
    tellOutput();
}

void Mp3Deck::play() {
    assertUiThread();
    if (givenName.empty()) return;
    const DecoderWorker::OpenReport* report = opened();
    if (report && !report->ok && reportShown) {  // a refused file is tried again
        requestOpen();
        report = opened();
    }
    reportShown = true;
    if (report && !report->ok) {
        reportRefusal(*report);
        return;
    }
    // Still opening: playing already, at position 0 until the first frames come.
    playAwaitsOpen = !report;
    output.ensureOpen();  // reports by itself; without a device the deck waits, silent
    // Paused, stopped, or the cued file taken up and sounding: on it goes.
    Phase before = Phase::Playing;
    const Word left = lane->ui.changeControl([&](Word now) -> std::optional<Word> {
        before = now.phase;
        if (now.phase == Phase::Playing || now.phase == Phase::Ended ||
            soundsUnadoptedCue(now.phase))
            return std::nullopt;
        return Word{now.epoch, Phase::Playing};
    });
    if (left.phase == Phase::Ended || soundsUnadoptedCue(left.phase))
        startEpoch(0, playing);  // from the start again
    else if (before == Phase::Paused && output.dropsQueueOnPause() && pausedEpoch == epoch)
        seekTo(pausedAt);  // what was read past it was dropped unheard
    else if (epochRate != outputRate())
        seekTo(positionNow(false));  // what was read ahead was made for another rate
    else
        tellOutput();
}

void Mp3Deck::pause() {
    assertUiThread();
    const double position = currentPosition();
    const Word left = lane->ui.changeControl([&](Word now) -> std::optional<Word> {
        if (now.phase != Phase::Playing) return std::nullopt;
        return Word{now.epoch, Phase::Paused};
    });
    if (left.phase == Phase::Paused) {  // the clock stands still where it was
        pausedAt = position;
        pausedEpoch = epoch;
        tellOutput();
    }
}

void Mp3Deck::stop() {
    assertUiThread();
    const Word now = lane->shared.control();
    if (now.phase == Phase::Stopped && epochStart == 0) return;  // nothing to rewind
    if (!loaded() && !opening()) return;
    startEpoch(0, stopped);
}

void Mp3Deck::followOutput() {
    assertUiThread();
    followOpen();
    leaveStuckLane();
    followLevel();
    followRate();
    const std::optional<std::uint32_t> dropped = lane->shared.droppedEpoch();
    if (!dropped) return;
    lane->ui.forgetDropped();
    if (*dropped != epoch || lane->shared.control().phase != Phase::Playing || !loaded()) return;
    seekTo(positionNow(false));
}

int Mp3Deck::outputRate() const {
    const int rate = lane->shared.outputRate();
    return rate > 0 ? rate : output.rate();
}

void Mp3Deck::followRate() {
    if (epochRate == outputRate()) return;
    // Not before the file answers: the tick never waits on a disk, and until then nothing of
    // the epoch was made.
    if (!givenName.empty() && !openAnswered()) return;
    switch (lane->shared.control().phase) {
        case Phase::Playing:
            seekTo(positionNow(false));  // from where it was heard
            break;
        case Phase::Paused:
            if (pausedEpoch == epoch) {
                seekTo(pausedAt);
                pausedEpoch = epoch;
            } else {
                seekTo(positionNow(false));
            }
            break;
        case Phase::Stopped:
            startEpoch(epochStart, stopped);
            break;
        case Phase::Ended:
        case Phase::Cued:
            break;  // a play starts it anew; the cued file waits to be taken up
    }
}

int Mp3Deck::playState() const {
    switch (lane->shared.control().phase) {
        case Phase::Playing:
            return Playing;
        case Phase::Paused:
            return Paused;
        case Phase::Ended:
            return tailSounds() ? Playing : Stopped;
        default:
            return Stopped;
    }
}

double Mp3Deck::duration() const {
    if (!loaded()) return 0;
    // An estimate, or a header that undercounts, must not stop the clock: the length follows
    // the position until a scan or the end of the file says how long it is.
    return std::max(knownLength(), currentPosition());
}

double Mp3Deck::knownLength() const {
    assert(loaded());
    const std::uint64_t exact = lane->shared.exactLength();
    const std::int64_t frames = DeckStream::epochOf(exact) == (trackId & DeckControl::kEpochMask)
                                    ? static_cast<std::int64_t>(DeckStream::indexOf(exact))
                                    : opened()->length;
    return static_cast<double>(frames) / opened()->rate;
}

double Mp3Deck::currentPosition() const {
    if (!loaded()) return 0;
    const Phase phase = lane->shared.control().phase;
    // Ended: rewound, once heard to the end. Cued: reads as stopped at 0 until played, even
    // once taken up.
    if (phase == Phase::Ended && tailSounds()) return positionNow(true);
    if (phase == Phase::Ended || phase == Phase::Cued) return 0;
    if (phase == Phase::Paused && pausedEpoch == epoch) return pausedAt;
    return positionNow(phase == Phase::Playing);
}

double Mp3Deck::positionNow(bool interpolate) const {
    const PlayClock::Reading reading = lane->shared.played();
    const std::uint64_t segmentMark = lane->shared.segment();
    double frames = 0;
    if (DeckStream::epochOf(reading.playedMark) == epoch &&
        (adoptedStart || DeckStream::epochOf(segmentMark) == epoch)) {
        const std::uint64_t start = adoptedStart ? *adoptedStart : DeckStream::indexOf(segmentMark);
        const auto handed = static_cast<double>(
            DeckStream::distance(start, DeckStream::indexOf(reading.playedMark)));
        frames = handed;
        if (interpolate && reading.atNanoseconds != 0) {
            // The last buffer sounds from the callback on: count it out as time passes, but
            // never beyond what was handed to the device.
            const double elapsed = reading.framesUntil(steadyNanoseconds(), epochRate);
            const auto inBuffer = static_cast<double>(reading.frames);
            frames = handed - inBuffer + std::clamp(elapsed, 0.0, inBuffer);
        }
        frames = std::max(0.0, frames);
    }
    const DecoderWorker::OpenReport* report = opened();
    const double start = report && report->ok ? static_cast<double>(epochStart) / report->rate : 0;
    return start + frames / epochRate;
}

bool Mp3Deck::tailSounds() const {
    const PlayClock::Reading reading = lane->shared.played();
    if (reading.atNanoseconds == 0 || DeckStream::epochOf(reading.playedMark) != epoch)
        return false;
    return reading.framesUntil(steadyNanoseconds(), epochRate) <
           static_cast<double>(reading.frames);
}

void Mp3Deck::setVolume(int volume) {
    assertUiThread();
    volume = std::clamp(volume, -10000, 0);
    const float wanted =
        volume <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, volume / 2000.0));
    // The joystick sets both decks' volumes every tick: the same level again changes nothing,
    // and must not take the output's lock each time.
    if (wanted == gain) return;
    gain = wanted;
    applyGain();
}

void Mp3Deck::setLevelling(Levelling mode, double preamp) {
    assertUiThread();
    levellingChoice = mode;
    level.choose(modeOf(mode), preamp);
    if (!givenName.empty()) askLoudness(path, true);
    aimLevel(true);
}

void Mp3Deck::useLoudness(LoudnessService& service) {
    assertUiThread();
    level.use(service);
}

void Mp3Deck::aimLevel(bool glide) {
    level.aim(levelledFile(), cuePath, glide, lane->shared.control().phase == Phase::Playing);
    applyLevels();
}

void Mp3Deck::followLevel() {
    if (level.step(levelledFile(), cuePath, lane->shared.control().phase == Phase::Playing))
        applyLevels();
}

void Mp3Deck::applyGain() {
    lane->ui.setGain(gain);
    tellOutput();
}

void Mp3Deck::seekTo(double seconds) {
    // Nothing opened yet (a resume while the open hangs): nothing was read past the start.
    const DecoderWorker::OpenReport* report = opened();
    const std::int64_t target = report && report->ok ? std::llround(seconds * report->rate) : 0;
    startEpoch(target, DeckControl::afterSeek);
}

void Mp3Deck::stepForward() {
    assertUiThread();
    if (!loaded()) return;
    seek(currentPosition() + kStepSeconds);
}

void Mp3Deck::stepBack() {
    assertUiThread();
    if (!loaded()) return;
    seek(currentPosition() - kStepSeconds);
}

void Mp3Deck::seek(double seconds) {
    assertUiThread();
    if (!loaded()) return;
    if (seconds >= duration()) {  // past the end: the track is over
        startEpoch(0, stopped);
        return;
    }
    seekTo(std::max(0.0, seconds));
}

void Mp3Deck::pauseAt(double seconds) {
    assertUiThread();
    if (!loaded()) return;
    const bool over = seconds >= duration();
    seek(seconds);
    if (over) return;  // stopped, as a seek past the end leaves the track
    const double position = currentPosition();
    // From stopped nothing sounds, so nothing is faded; from playing the cut fades as a pause's.
    const Word left = lane->ui.changeControl([&](Word now) -> std::optional<Word> {
        if (now.phase == Phase::Ended || now.phase == Phase::Cued) return std::nullopt;
        return Word{now.epoch, Phase::Paused};
    });
    if (left.phase == Phase::Paused) {
        pausedAt = position;
        pausedEpoch = epoch;
        tellOutput();
    }
}
