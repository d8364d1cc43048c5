#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/deck/deck_stream.h"
#include "engine/deck/locked_text.h"

class ErrorSink;

// The decoder thread of one deck: opens the file the UI names, decodes it from the position
// of the current epoch, converts it to the epoch's output rate and fills the stream's ring. It
// sleeps on the stream's wake signal whenever it has nothing to do.
class DecoderWorker {
public:
    // What the UI wants; the worker acts on what changed since it last looked. Each new file
    // (or a retry of a file that failed) has a new track id and comes with a new epoch.
    struct Orders {
        std::uint32_t trackId = 0;
        std::string path;  // "" for no file
        std::uint32_t epoch = 0;
        std::int64_t target = 0;  // source frame where the epoch begins
        int rate = 0;             // the epoch's output rate; 0: the one the worker was made with
        // The file to open now and to play right behind the current one's last sample, in
        // this epoch; 0 for none. Orders naming cueTrackId as their track take up that file.
        std::uint32_t cueTrackId = 0;
        std::string cuePath;
        // Seconds the cued file starts under the current one's end, rising while that falls;
        // 0 joins them without a gap or an overlap.
        double crossfade = 0;
    };
    // What opening a track found.
    struct OpenReport {
        std::uint32_t trackId = 0;
        bool ok = false;
        std::string error;  // the plain cause when !ok
        int rate = 0;
        std::int64_t length = 0;  // frames at rate, an estimate unless exact
    };

    // Starts the thread; where it cannot, says so once and refuses every file.
    DecoderWorker(DeckStream& stream, ErrorSink& errors, int outputRate);
    ~DecoderWorker();
    DecoderWorker(const DecoderWorker&) = delete;
    DecoderWorker& operator=(const DecoderWorker&) = delete;

    // UI thread only. Replaces the orders and wakes the worker.
    void order(const Orders& orders);
    // UI thread only. What the worker found opening `trackId`, which the orders must name (or
    // have named) as their track or their cue; waits at most `patience` for it, and nullopt
    // while the file is still opening (a slow disk must never hold the window).
    std::optional<OpenReport> openReport(std::uint32_t trackId,
                                         std::chrono::milliseconds patience) const;

    // A file call the thread is inside now (an open, a read, a seek, a close, waiting for the
    // length scan or for the next file's opener): since when, and on which file.
    struct BlockingCall {
        std::chrono::steady_clock::duration lasted{};
        std::string path;
    };
    // UI thread only. nullopt while the thread is outside any file call: a disk that does not
    // answer shows as a call that lasts, whichever call it is.
    std::optional<BlockingCall> blockingCall() const;
    // UI thread only. False when the thread could not start: the worker refuses every file.
    bool running() const { return thread.joinable(); }

private:
    class Run;
    class InsideCall;
    // Decoder thread: takes new orders; false once told to quit.
    bool takeOrders(Orders& into);
    bool ordersWaiting() const {
        return postedSerial.load(std::memory_order_relaxed) != takenSerial;
    }
    bool quitting() const;
    void publish(const OpenReport& report, bool forCue);

    const DeckStream& stream;
    DeckStream::UiSide ui;                // order() and the end are the UI thread's
    DeckStream::DecoderSide decoderSide;  // the thread's, handed to its Run
    ErrorSink& errors;
    const int outputRate;

    // UI -> decoder: the orders, and the report back. The mutex is held only to copy them.
    mutable std::mutex mutex;
    mutable std::condition_variable reported;
    Orders posted;
    bool quit = false;
    OpenReport lastReport;
    OpenReport cueReport;
    // Bumped by the UI after each order, so the worker can leave a long task at once.
    std::atomic<std::uint64_t> postedSerial{0};
    std::uint64_t takenSerial = 0;  // decoder thread only
    // Decoder thread -> UI: steady nanoseconds when the thread entered a file call, 0 outside
    // one. The path is set before the time is stored (release), so a UI that reads the time
    // (acquire) reads the path of that call or of a later one.
    std::atomic<std::int64_t> callSince{0};
    LockedText callPath;
    std::string callPathSet;  // decoder thread only: what callPath holds, to set it only anew
    std::thread thread;       // last: starts once everything it uses exists
};
