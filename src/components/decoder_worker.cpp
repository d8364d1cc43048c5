#include "components/decoder_worker.h"

#include <pthread.h>

#include <functional>
#include <memory>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "components/deck_stream.h"
#include "components/error_sink.h"
#include "components/mp3_decoder.h"
#include "components/soxr_resampler.h"

namespace {
constexpr std::size_t kDecodeFrames = 2304;  // two MPEG-1 layer III frames
}  // namespace

// The decoder thread's own state and steps.
class DecoderWorker::Run {
public:
    explicit Run(DecoderWorker& worker) : worker(worker), stream(worker.stream) {
        converted.reserve(kDecodeFrames * 3);
    }
    ~Run() { endScan(); }
    void loop();

private:
    void openTrack(const Orders& orders);
    void startEpoch(const Orders& orders);
    void fill();  // until the ring is full, the track is over or new orders wait
    // The exact length of a file without an Info/Xing header, found on a thread of its own
    // with a second handle, so that no command waits for it. A new file abandons it.
    void startScan();
    void endScan();
    void publishEnd();
    bool trackWanted() const { return stream.track.load(std::memory_order_relaxed) == trackId; }

    DecoderWorker& worker;
    DeckStream& stream;
    std::unique_ptr<Mp3Decoder> decoder;
    std::string file;
    std::uint32_t trackId = 0;
    std::uint32_t epoch = 0;
    bool ended = true;
    bool finishing = false;  // the decoder is done; what is left goes into the ring, then the end
    bool scanned = true;
    std::thread scanner;
    std::string failure;
    SoxrResampler resampler;
    std::vector<StereoFrame> decoded = std::vector<StereoFrame>(kDecodeFrames);
    std::vector<StereoFrame> converted;
    std::size_t convertedPos = 0;
};

void DecoderWorker::Run::loop() {
    pthread_setname_np(pthread_self(), "deck decoder");
    Orders orders;
    for (;;) {
        if (worker.ordersWaiting()) {
            if (!worker.takeOrders(orders)) return;
            if (orders.trackId != trackId) openTrack(orders);
            if (orders.epoch != epoch) startEpoch(orders);
            continue;
        }
        if (stream.outputLost.exchange(false, std::memory_order_acquire))
            worker.errors.report("Sound output lost while playing " + file);
        fill();
        if (worker.ordersWaiting()) continue;
        if (decoder && !scanned) startScan();  // once the ring is full: playing comes first
        stream.wake.wait();
    }
}

void DecoderWorker::Run::openTrack(const Orders& orders) {
    trackId = orders.trackId;
    file = orders.path;
    decoder.reset();  // the old file closes here
    endScan();
    OpenReport report;
    report.trackId = trackId;
    if (!file.empty()) {
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
    worker.publish(report);
}

void DecoderWorker::Run::startEpoch(const Orders& orders) {
    epoch = orders.epoch;
    converted.clear();
    convertedPos = 0;
    finishing = false;
    failure.clear();
    ended = true;
    if (decoder) {
        if (decoder->seek(orders.target) >= 0) {
            resampler.reset(decoder->rate(), worker.outputRate);
            ended = false;
        } else if (trackWanted()) {
            worker.errors.report("Cannot play " + file + ": cannot seek in the file");
        }
    }
    stream.segment.store(DeckStream::mark(epoch, stream.ring.writeIndex()),
                         std::memory_order_release);
    if (ended) publishEnd();
}

void DecoderWorker::Run::fill() {
    while (decoder && !ended && !worker.ordersWaiting()) {
        if (convertedPos < converted.size()) {
            convertedPos +=
                stream.ring.write(std::span<const StereoFrame>(converted).subspan(convertedPos));
            if (convertedPos < converted.size()) return;  // the ring is full
            continue;
        }
        if (finishing) {
            publishEnd();
            ended = true;
            if (!failure.empty() && trackWanted())
                worker.errors.report("Playback of " + file + " ended early: " + failure);
            return;
        }
        const auto result = decoder->read(decoded);
        converted.clear();
        convertedPos = 0;
        resampler.process(std::span<const StereoFrame>(decoded.data(), result.frames), converted);
        if (result.status != Mp3Decoder::Status::Ok) {
            resampler.finish(converted);
            finishing = true;
            if (result.status == Mp3Decoder::Status::Error) failure = result.error;
        }
    }
}

void DecoderWorker::Run::startScan() {
    scanned = true;
    endScan();
    try {
        scanner = std::thread([&stream = stream, id = trackId, path = file] {
            pthread_setname_np(pthread_self(), "deck scanner");
            const std::function<bool()> abandoned = [&] {
                return stream.track.load(std::memory_order_relaxed) != id;
            };
            const auto opened = Mp3Decoder::open(path, abandoned);
            if (!opened.decoder) return;
            if (opened.decoder->scan(abandoned) == Mp3Decoder::ScanResult::Exact && !abandoned())
                stream.exactLength.store(
                    DeckStream::mark(id, static_cast<std::uint64_t>(opened.decoder->length())),
                    std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // No thread to spare: the length stays an estimate.
    }
}

void DecoderWorker::Run::endScan() {
    if (scanner.joinable()) scanner.join();
}

void DecoderWorker::Run::publishEnd() {
    stream.endMark.store(DeckStream::mark(epoch, stream.ring.writeIndex()),
                         std::memory_order_release);
}

DecoderWorker::DecoderWorker(DeckStream& stream, ErrorSink& errors, int outputRate)
    : stream(stream), errors(errors), outputRate(outputRate), thread([this] {
          Run run(*this);
          run.loop();
      }) {}

DecoderWorker::~DecoderWorker() {
    {
        std::lock_guard lock(mutex);
        quit = true;
        postedSerial.fetch_add(1, std::memory_order_relaxed);
    }
    stream.track.fetch_add(1, std::memory_order_relaxed);  // abandons an open under way
    stream.wake.post();
    thread.join();
}

void DecoderWorker::order(const Orders& orders) {
    {
        std::lock_guard lock(mutex);
        posted = orders;
        postedSerial.fetch_add(1, std::memory_order_relaxed);
    }
    stream.wake.post();
}

bool DecoderWorker::takeOrders(Orders& into) {
    std::lock_guard lock(mutex);
    if (quit) return false;
    into = posted;
    takenSerial = postedSerial.load(std::memory_order_relaxed);
    return true;
}

void DecoderWorker::publish(const OpenReport& report) {
    {
        std::lock_guard lock(mutex);
        lastReport = report;
    }
    reported.notify_all();
}

DecoderWorker::OpenReport DecoderWorker::awaitOpen(std::uint32_t trackId) const {
    std::unique_lock lock(mutex);
    reported.wait(lock, [&] { return lastReport.trackId == trackId; });
    return lastReport;
}
