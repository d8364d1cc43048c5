#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/deck/deck_stream.h"
#include "engine/decode/mp3_decoder.h"

// Opens the cued file on a thread of its own, so that a slow disk under it neither holds the
// current track's decoding nor cuts its end. One file at a time; a newer request replaces one
// not yet taken, and an open under way gives up at its next read once it is not wanted. A file
// on a disk that holds too many threads already is refused with the cause, unopened.
//
// Protocol: request() and take() come from the decoder thread, the opening from the opener's
// own; everything is under `mutex` but the open itself. The opener wakes the decoder thread
// (through the stream) when a result is ready.
class CueOpener {
public:
    explicit CueOpener(DeckStream::UiSide waker) : waker(waker) {}
    ~CueOpener();
    CueOpener(const CueOpener&) = delete;
    CueOpener& operator=(const CueOpener&) = delete;

    // Asks for `path` ("" for nothing); what an earlier request found is dropped. False when
    // no thread could be had for it.
    bool request(const std::string& path);
    // Whether take() has something, without a lock.
    bool ready() const { return hasResult.load(std::memory_order_acquire); }
    // Still held by the open of an earlier request (a disk that does not answer): the one
    // asked for now has not even begun.
    bool heldByAnother();
    // What the open of the path last requested found, once it is done.
    std::optional<Mp3Decoder::Opened> take();
    // Waits for the open under way, in slices, until `giveUp` says so; nullopt then.
    std::optional<Mp3Decoder::Opened> await(const std::function<bool()>& giveUp);

private:
    void loop();

    DeckStream::UiSide waker;
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t serial = 0;
    std::uint64_t openingSerial = 0;  // the request whose open is under way; 0 for none
    std::string wanted;               // "" once opened or withdrawn
    std::optional<Mp3Decoder::Opened> result;
    std::atomic<bool> hasResult{false};  // result is there; set and cleared under the mutex
    bool quit = false;
    std::thread thread;
};
