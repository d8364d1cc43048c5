#include "components/decoder_worker.h"

#include <span>
#include <vector>

#include "components/deck_stream.h"
#include "components/error_sink.h"
#include "components/linear_resampler.h"
#include "components/mp3_decoder.h"

namespace {
constexpr std::size_t kDecodeFrames = 2304;  // two MPEG-1 layer III frames
}  // namespace

DecoderWorker::DecoderWorker(DeckStream& stream, ErrorSink& errors, int outputRate)
    : stream(stream), errors(errors), outputRate(outputRate), thread(&DecoderWorker::run, this) {}

DecoderWorker::~DecoderWorker() {
    {
        std::lock_guard lock(mailboxMutex);
        quit = true;
    }
    stream.track.fetch_add(1, std::memory_order_relaxed);  // abandons a scan under way
    mailboxChanged.notify_all();
    thread.join();
}

void DecoderWorker::post(std::unique_ptr<Command> command) {
    {
        std::lock_guard lock(mailboxMutex);
        if (pending && pending->replace && !command->replace) {
            command->replace = true;
            command->decoder = std::move(pending->decoder);
            command->path = pending->path;
            command->trackId = pending->trackId;
        }
        pending = std::move(command);
    }
    mailboxChanged.notify_one();
}

void DecoderWorker::wake() {
    { std::lock_guard lock(mailboxMutex); }
    mailboxChanged.notify_one();
}

void DecoderWorker::run() {
    std::unique_ptr<Mp3Decoder> decoder;
    std::string file;
    std::uint32_t trackId = 0;
    std::uint32_t epoch = 0;
    bool ended = true;
    bool finishing = false;  // the decoder is done; what is left goes into the ring, then the end
    std::string failure;
    bool scanned = true;
    LinearResampler resampler;
    std::vector<StereoFrame> decoded(kDecodeFrames);
    std::vector<StereoFrame> converted;
    converted.reserve(kDecodeFrames * 3);
    std::size_t convertedPos = 0;
    auto abandoned = [&] { return stream.track.load(std::memory_order_relaxed) != trackId; };
    auto publishEnd = [&] {
        stream.endMark.store(DeckStream::mark(epoch, stream.ring.writeIndex()),
                             std::memory_order_release);
    };

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
            epoch = command->epoch;
            converted.clear();
            convertedPos = 0;
            finishing = false;
            failure.clear();
            ended = true;
            if (decoder) {
                if (decoder->seek(command->target) >= 0) {
                    resampler.reset(decoder->rate(), outputRate);
                    ended = false;
                } else if (!abandoned()) {
                    errors.report("Cannot play " + file + ": cannot seek in the file");
                }
            }
            stream.segment.store(DeckStream::mark(epoch, stream.ring.writeIndex()),
                                 std::memory_order_release);
            if (ended) publishEnd();
            continue;
        }
        if (stream.outputLost.exchange(false, std::memory_order_acquire))
            errors.report("Sound output lost while playing " + file);

        bool worked = false;
        if (decoder && !ended) {
            if (convertedPos < converted.size()) {
                const std::size_t n = stream.ring.write(
                    std::span<const StereoFrame>(converted).subspan(convertedPos));
                convertedPos += n;
                worked = n > 0;
            }
            if (convertedPos == converted.size()) {
                if (finishing) {
                    publishEnd();
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
                stream.exactLength.store(
                    DeckStream::mark(trackId, static_cast<std::uint64_t>(decoder->length())),
                    std::memory_order_release);
            continue;
        }
        if (worked) continue;
        const bool playing =
            stream.control.load(std::memory_order_relaxed).phase == DeckControl::Phase::Playing;
        std::unique_lock lock(mailboxMutex);
        mailboxChanged.wait_for(
            lock, playing ? std::chrono::milliseconds(4) : std::chrono::milliseconds(100),
            [&] { return quit || pending != nullptr; });
    }
}
