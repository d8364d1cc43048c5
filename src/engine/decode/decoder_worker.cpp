#include "engine/decode/decoder_worker.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "components/error_sink.h"
#include "components/stranded_threads.h"
#include "engine/deck/deck_stream.h"
#include "engine/deck/play_clock.h"
#include "engine/deck/verify.h"
#include "engine/decode/crossfade_overlap.h"
#include "engine/decode/cue_opener.h"
#include "engine/decode/mp3_decoder.h"
#include "engine/decode/soxr_resampler.h"

namespace {
constexpr std::size_t kDecodeFrames = 2304;  // two MPEG-1 layer III frames
constexpr const char* kNoThread = "the deck has no decoder thread";
// Far less than the ring holds (0.68 s at 48 kHz), far more than a local file's open takes.
constexpr std::chrono::milliseconds kCueGrace{150};
}  // namespace

// Decoder thread only: marks the thread as inside a file call for as long as this lives.
class DecoderWorker::InsideCall {
public:
    InsideCall(DecoderWorker& worker, const std::string& path) : worker(worker) {
        if (path != worker.callPathSet) {
            worker.callPathSet = path;
            worker.callPath.set(path);
        }
        worker.callSince.store(std::max<std::int64_t>(steadyNanoseconds(), 1),
                               std::memory_order_release);
    }
    ~InsideCall() { worker.callSince.store(0, std::memory_order_release); }
    InsideCall(const InsideCall&) = delete;
    InsideCall& operator=(const InsideCall&) = delete;

private:
    DecoderWorker& worker;
};

// The decoder thread's own state and steps.
class DecoderWorker::Run {
public:
    explicit Run(DecoderWorker& worker)
        : worker(worker), stream(worker.stream), side(worker.decoderSide), opener(worker.ui) {
        converted.reserve(kDecodeFrames * 3);
        outputRate = worker.outputRate;
    }
    ~Run() { endScan(); }
    void loop();

private:
    // The file the UI cued, opened ahead; it follows the current one within the epoch.
    struct Cue {
        std::uint32_t trackId = 0;  // kept once taken up, so the same orders do not reopen it
        std::string path;
        bool opening = false;  // the opener is at it
        std::unique_ptr<Mp3Decoder> decoder;
        OpenReport report;
    };

    void openTrack(const Orders& orders);
    void startEpoch(const Orders& orders);
    void setCue(const Orders& orders);
    // What the opener found for the cue, once it is done: kept, reported, and joined behind a
    // track that has ended already.
    void settleCue(Mp3Decoder::Opened opened, bool joinEnded);
    // At the current track's last frame: the cue's open, if under way, gets a moment more, so
    // that a local file joins without a seam; the ring still sounds meanwhile.
    void awaitCue();
    void fill();  // until the ring is full, the track is over or new orders wait
    void write();
    std::size_t pending() const { return converted.size() - convertedPos; }
    // Converted frames kept out of the ring: the current track's last ones, while a crossfade
    // into the cued file is due, so that they can be mixed under its first ones.
    std::size_t heldBack() const;
    // At the current track's end: its held frames fall under the cued file's first ones.
    void crossfadeIntoCue();
    // Makes room for the next decoded chunk behind the frames not yet written.
    void compactConverted();
    // At the end of the current track: the cued file goes on behind it, at the same rate
    // without a seam through the resampler; false when there is none to take.
    bool continueSeamlessly();
    void continueAfterEnd();
    void takeCue();
    // The exact length of a file without an Info/Xing header, found on a thread of its own
    // with a second handle, so that no command waits for it. A new file abandons it.
    void startScan();
    void endScan();
    void publishEnd();
    bool trackWanted() const { return stream.wants(trackId); }

    DecoderWorker& worker;
    const DeckStream& stream;
    DeckStream::DecoderSide side;
    std::unique_ptr<Mp3Decoder> decoder;
    std::string file;
    std::uint32_t trackId = 0;
    std::uint32_t epoch = 0;
    int outputRate = 0;  // the current epoch's
    // Where the current epoch's decoding stands. Only moveTo changes it.
    enum class Stage {
        Idle,        // nothing to decode: no file, or it could not seek; its end is marked
        Decoding,    // reading frames into the ring
        Draining,    // the decoder is done; what is left goes into the ring, then the end
        Ended,       // the track played to its last frame and its end is marked
        EndedEarly,  // the file failed part-way; its end is marked where the failure came
    };
    void moveTo(Stage next);
    bool decoding() const { return stage == Stage::Decoding || stage == Stage::Draining; }
    Stage stage = Stage::Idle;
    bool scanned = true;
    // Where the decoder stands in the file, once this epoch has decoded anything: a seek past
    // the end reports the frame asked for, not one that exists.
    std::int64_t sourceFrame = 0;
    bool decodedSinceSeek = false;
    std::thread scanner;
    std::string scanFile;  // what the scanner reads
    std::string failure;
    Cue cue;
    SoxrResampler resampler;
    std::uint64_t resamplerStart = 0;  // ring index of the resampler's first output frame
    // Ring index where the cued file's output begins, before its marks are published.
    std::optional<std::uint64_t> boundary;
    std::vector<StereoFrame> decoded = std::vector<StereoFrame>(kDecodeFrames);
    std::vector<StereoFrame> converted;
    std::size_t convertedPos = 0;
    double crossfade = 0;  // seconds, as ordered
    CrossfadeOverlap overlap;
    CueOpener opener;  // last: its thread goes before anything it could touch
};

void DecoderWorker::Run::loop() {
    pthread_setname_np(pthread_self(), "deck decoder");
    Orders orders;
    for (;;) {
        if (worker.ordersWaiting()) {
            if (!worker.takeOrders(orders)) return;
            crossfade = orders.crossfade;
            if (orders.trackId != trackId) openTrack(orders);
            if (orders.epoch != epoch) startEpoch(orders);
            if (orders.cueTrackId != cue.trackId) setCue(orders);
            continue;
        }
        if (cue.opening)
            if (auto opened = opener.take()) settleCue(std::move(*opened), true);
        fill();
        if (worker.ordersWaiting()) continue;
        // Once the ring is full, playing comes first; a cued file waits until it is taken up.
        if (decoder && !scanned && trackWanted()) startScan();
        side.sleep();
    }
}

void DecoderWorker::Run::openTrack(const Orders& orders) {
    if (decoder) {
        const InsideCall closing(worker, file);
        decoder.reset();  // the old file closes here
    }
    endScan();
    trackId = orders.trackId;
    file = orders.path;
    OpenReport report;
    report.trackId = trackId;
    // The opener still stuck on an earlier file has not begun this one: opened here instead.
    if (trackId == cue.trackId && cue.opening && opener.heldByAnother()) {
        opener.request(std::string());
        cue = Cue{};
    }
    if (trackId == cue.trackId && cue.opening) {  // the opener is still at it: its result
        const InsideCall waiting(worker, cue.path);
        auto opened = opener.await([this] { return worker.quitting(); });
        if (!opened) return;  // quitting
        settleCue(std::move(*opened), false);
    }
    if (trackId == cue.trackId) {  // opened already as the cue, whatever came of it
        decoder = std::move(cue.decoder);
        report = cue.report;
    } else if (!file.empty()) {
        const InsideCall opening(worker, file);
        const std::function<bool()> abandoned = [this] { return !trackWanted(); };
        auto opened = Mp3Decoder::open(file, abandoned);
        if (opened.decoder) {
            decoder = std::move(opened.decoder);
            report.ok = true;
            report.rate = decoder->rate();
            report.length = decoder->length();
        } else {
            report.error = opened.error;
        }
    }
    scanned = !decoder || decoder->lengthIsExact();
    worker.publish(report, false);
}

void DecoderWorker::Run::startEpoch(const Orders& orders) {
    epoch = orders.epoch;
    outputRate = orders.rate > 0 ? orders.rate : worker.outputRate;
    converted.clear();
    convertedPos = 0;
    overlap.clear();
    failure.clear();
    boundary.reset();
    moveTo(Stage::Idle);  // a new epoch: whatever the last one was doing is over
    if (decoder) {
        std::int64_t reached = -1;
        {
            const InsideCall seeking(worker, file);
            reached = decoder->seek(orders.target);
        }
        if (reached >= 0) {
            sourceFrame = reached;
            decodedSinceSeek = false;
            resampler.reset(decoder->rate(), outputRate);
            moveTo(Stage::Decoding);
        } else if (trackWanted()) {
            worker.errors.report("Cannot play " + file + ": cannot seek in the file");
        }
    }
    resamplerStart = side.writeIndex();
    side.markSegment(epoch, resamplerStart);
    if (stage == Stage::Idle) publishEnd();
}

void DecoderWorker::Run::setCue(const Orders& orders) {
    cue = Cue{};
    const bool withOpener = opener.request(orders.cueTrackId == 0 ? std::string() : orders.cuePath);
    if (orders.cueTrackId == 0) return;
    cue.trackId = orders.cueTrackId;
    cue.path = orders.cuePath;
    cue.report.trackId = cue.trackId;
    if (withOpener) {
        cue.opening = true;
        return;
    }
    // No thread to spare for it: opened here, as a file set is.
    bool gaveUp = false;
    const std::function<bool()> abandoned = [&] { return gaveUp = worker.ordersWaiting(); };
    const InsideCall opening(worker, cue.path);
    auto opened = Mp3Decoder::open(cue.path, abandoned);
    if (gaveUp) {  // newer orders: they say whether this cue still stands
        cue = Cue{};
        return;
    }
    settleCue(std::move(opened), true);
}

void DecoderWorker::Run::settleCue(Mp3Decoder::Opened opened, bool joinEnded) {
    cue.opening = false;
    if (opened.decoder) {
        cue.decoder = std::move(opened.decoder);
        cue.report.ok = true;
        cue.report.rate = cue.decoder->rate();
        cue.report.length = cue.decoder->length();
    } else {
        cue.report.error = opened.error;  // told when the file is set, not now
    }
    worker.publish(cue.report, true);
    // Cued late: the current track is decoded to its end, and its end is the ring's end.
    if (joinEnded && stage == Stage::Ended && cue.decoder &&
        DeckStream::indexOf(stream.endMark()) == (side.writeIndex() & DeckStream::kIndexMask))
        continueAfterEnd();
}

void DecoderWorker::Run::takeCue() {
    decoder = std::move(cue.decoder);
    file = cue.path;
    trackId = cue.trackId;
    scanned = decoder->lengthIsExact();
    sourceFrame = 0;
    decodedSinceSeek = false;
    failure.clear();
}

bool DecoderWorker::Run::continueSeamlessly() {
    if (!cue.decoder || cue.decoder->rate() != decoder->rate() || boundary) return false;
    boundary = resamplerStart + resampler.outputFor(resampler.inputCount());
    takeCue();
    return true;
}

void DecoderWorker::Run::continueAfterEnd() {
    const std::uint64_t end = side.writeIndex();
    side.markContinuation(epoch, end);
    publishEnd();
    takeCue();
    resampler.reset(decoder->rate(), outputRate);
    resamplerStart = end;
    moveTo(Stage::Decoding);  // the cued file, behind the track that ended
}

std::size_t DecoderWorker::Run::heldBack() const {
    if (crossfade <= 0 || cue.trackId == 0 || !failure.empty() || !decoder) return 0;
    // A cue still opening may yet come; at the track's end it is too late to wait for it.
    if (!cue.decoder && (!cue.opening || stage == Stage::Draining)) return 0;
    return CrossfadeOverlap::framesFor(crossfade, outputRate, decoder->length(), decoder->rate(),
                                       cue.decoder ? cue.decoder->length() : 0,
                                       cue.decoder ? cue.decoder->rate() : 0);
}

void DecoderWorker::Run::crossfadeIntoCue() {
    // The voice plays what follows the end at the cued file's level: the falling frames are
    // brought back to their own.
    const DeckStream::Levels levels = stream.levels();
    overlap.begin(std::span<const StereoFrame>(converted).subspan(convertedPos),
                  levels.cued > 0 ? levels.playing / levels.cued : 1.0f);
    converted.clear();
    convertedPos = 0;
    continueAfterEnd();
}

void DecoderWorker::Run::compactConverted() {
    if (convertedPos == converted.size()) {
        converted.clear();
        convertedPos = 0;
    } else if (convertedPos >= kDecodeFrames * 16) {
        converted.erase(converted.begin(), converted.begin() + std::ptrdiff_t(convertedPos));
        convertedPos = 0;
    }
}

void DecoderWorker::Run::write() {
    auto rest = std::span<const StereoFrame>(converted).subspan(convertedPos);
    rest = rest.first(rest.size() - std::min(rest.size(), heldBack()));
    if (boundary) {
        // Up to the cued file's start, then its marks, then its frames.
        const std::int64_t room = DeckStream::distance(side.writeIndex(), *boundary);
        if (room <= 0) {
            side.markContinuation(epoch, side.writeIndex());
            publishEnd();
            boundary.reset();
        } else {
            rest = rest.first(std::min<std::size_t>(rest.size(), static_cast<std::size_t>(room)));
        }
    }
    convertedPos += side.write(rest);
}

void DecoderWorker::Run::awaitCue() {
    if (!cue.opening) return;
    const InsideCall waiting(worker, cue.path);
    const auto deadline = std::chrono::steady_clock::now() + kCueGrace;
    auto opened = opener.await(
        [&] { return worker.ordersWaiting() || std::chrono::steady_clock::now() >= deadline; });
    if (opened) settleCue(std::move(*opened), false);
}

void DecoderWorker::Run::fill() {
    while (decoder && decoding() && !worker.ordersWaiting()) {
        if (cue.opening && opener.ready()) settleCue(*opener.take(), false);
        const bool atBoundary = boundary && *boundary == side.writeIndex();
        if (pending() > heldBack() || atBoundary) {
            const std::size_t before = convertedPos;
            write();
            if (convertedPos == before && side.writable() == 0) return;  // the ring is full
            continue;
        }
        if (stage == Stage::Draining) {
            if (cue.decoder && failure.empty()) {
                crossfadeIntoCue();  // or, with none held back, a plain join at another rate
                continue;
            }
            publishEnd();
            moveTo(failure.empty() ? Stage::Ended : Stage::EndedEarly);
            if (!failure.empty() && trackWanted())
                worker.errors.report("Playback of " + file + " ended early: " + failure);
            return;
        }
        Mp3Decoder::Result result;
        {
            const InsideCall reading(worker, file);
            result = decoder->read(decoded);
        }
        sourceFrame += static_cast<std::int64_t>(result.frames);
        decodedSinceSeek = decodedSinceSeek || result.frames > 0;
        if (result.status == Mp3Decoder::Status::End && decodedSinceSeek) {
            // The end is where the file really ends, whatever its header said.
            scanned = true;
            if (trackWanted())
                side.setExactLength(trackId, static_cast<std::uint64_t>(sourceFrame));
        }
        compactConverted();
        const std::size_t fresh = converted.size();
        resampler.process(std::span<const StereoFrame>(decoded.data(), result.frames), converted);
        if (result.status == Mp3Decoder::Status::End) awaitCue();
        if (result.status == Mp3Decoder::Status::End && heldBack() == 0 && continueSeamlessly())
            continue;
        if (result.status != Mp3Decoder::Status::Ok) resampler.finish(converted);
        overlap.mixInto(std::span<StereoFrame>(converted).subspan(fresh));
        if (result.status != Mp3Decoder::Status::Ok) {
            overlap.finish(converted);  // a file shorter than its overlap
            moveTo(Stage::Draining);    // the file's end, or a failure: no more to read
            if (result.status == Mp3Decoder::Status::Error) failure = result.error;
        }
    }
}

void DecoderWorker::Run::moveTo(Stage next) {
    // Only these steps: a new epoch may start from anywhere; decoding leads to draining,
    // draining to an end; the cued file goes on from a clean end or from draining (at another
    // rate, behind the track's last frames).
    [[maybe_unused]] const bool allowed =
        next == Stage::Idle ||
        (next == Stage::Decoding &&
         (stage == Stage::Idle || stage == Stage::Ended || stage == Stage::Draining)) ||
        (next == Stage::Draining && stage == Stage::Decoding) ||
        ((next == Stage::Ended || next == Stage::EndedEarly) && stage == Stage::Draining);
    assert(allowed);
    stage = next;
}

void DecoderWorker::Run::startScan() {
    scanned = true;
    endScan();
    scanFile = file;
    try {
        scanner = std::thread([&stream = stream, side = side, id = trackId, path = file]() mutable {
            pthread_setname_np(pthread_self(), "deck scanner");
            const std::function<bool()> abandoned = [&] { return !stream.wants(id); };
            const auto opened = Mp3Decoder::open(path, abandoned);
            if (!opened.decoder) return;
            if (opened.decoder->scan(abandoned) == Mp3Decoder::ScanResult::Exact && !abandoned())
                side.setExactLength(id, static_cast<std::uint64_t>(opened.decoder->length()));
        });
    } catch (const std::system_error&) {
        // No thread to spare: the length stays an estimate.
    }
}

void DecoderWorker::Run::endScan() {
    if (!scanner.joinable()) return;
    const InsideCall waiting(worker, scanFile);  // a scan stuck on its disk holds the join
    scanner.join();
}

void DecoderWorker::Run::publishEnd() {
    side.markEnd(epoch);
}

DecoderWorker::DecoderWorker(DeckStream& stream, ErrorSink& errors, int outputRate)
    : stream(stream),
      ui(stream.uiSide()),
      decoderSide(stream.decoderSide()),
      errors(errors),
      outputRate(outputRate) {
    try {
        thread = std::thread([this] {
            Run run(*this);
            run.loop();
        });
    } catch (const std::system_error& e) {
        // The window must still come up: this deck refuses every file with the cause.
        verifyOrReport(false, errors,
                       std::string("A deck's decoder thread could not start (") + e.what() +
                           "); that deck plays nothing");
    }
}

DecoderWorker::~DecoderWorker() {
    {
        std::lock_guard lock(mutex);
        quit = true;
        postedSerial.fetch_add(1, std::memory_order_relaxed);
    }
    ui.abandonTrack();  // an open under way gives up
    ui.wakeDecoder();
    if (thread.joinable()) thread.join();
}

void DecoderWorker::order(const Orders& orders) {
    {
        std::lock_guard lock(mutex);
        posted = orders;
        postedSerial.fetch_add(1, std::memory_order_relaxed);
        if (!thread.joinable()) {  // nobody to open anything
            lastReport = OpenReport{orders.trackId, false, kNoThread};
            cueReport = OpenReport{orders.cueTrackId, false, kNoThread};
        }
    }
    ui.wakeDecoder();
}

bool DecoderWorker::quitting() const {
    std::lock_guard lock(mutex);
    return quit;
}

std::optional<DecoderWorker::BlockingCall> DecoderWorker::blockingCall() const {
    // The path is set before the time: read the time on both sides of it, and again when the
    // thread moved on to another call in between.
    for (;;) {
        const std::int64_t since = callSince.load(std::memory_order_acquire);
        if (since == 0) return std::nullopt;
        std::string path = callPath.get();
        if (callSince.load(std::memory_order_acquire) != since) continue;
        return BlockingCall{std::chrono::nanoseconds(steadyNanoseconds() - since), std::move(path)};
    }
}

bool DecoderWorker::takeOrders(Orders& into) {
    std::lock_guard lock(mutex);
    // Under the lock: the UI wrote `thread` before its first order.
    assert(std::this_thread::get_id() == thread.get_id());
    if (quit) return false;
    into = posted;
    takenSerial = postedSerial.load(std::memory_order_relaxed);
    return true;
}

void DecoderWorker::publish(const OpenReport& report, bool forCue) {
    {
        std::lock_guard lock(mutex);
        (forCue ? cueReport : lastReport) = report;
    }
    reported.notify_all();
}

std::optional<DecoderWorker::OpenReport> DecoderWorker::openReport(
    std::uint32_t trackId, std::chrono::milliseconds patience) const {
    // The worker holds the lock only to copy orders and reports, never across a file operation.
    std::unique_lock lock(mutex);
    if (!reported.wait_for(lock, patience, [&] {
            return lastReport.trackId == trackId || cueReport.trackId == trackId;
        }))
        return std::nullopt;
    return lastReport.trackId == trackId ? lastReport : cueReport;
}
