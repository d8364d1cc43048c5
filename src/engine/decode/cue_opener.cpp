#include "engine/decode/cue_opener.h"

#include <pthread.h>

#include <chrono>
#include <system_error>
#include <utility>

#include "components/stranded_threads.h"

CueOpener::~CueOpener() {
    {
        std::lock_guard lock(mutex);
        quit = true;
        ++serial;  // an open under way gives up
    }
    changed.notify_all();
    if (thread.joinable()) thread.join();
}

bool CueOpener::request(const std::string& path) {
    std::lock_guard lock(mutex);
    ++serial;
    wanted = path;
    result.reset();
    hasResult.store(false, std::memory_order_relaxed);
    if (!thread.joinable() && !path.empty()) {
        try {
            thread = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
            wanted.clear();
            return false;
        }
    }
    changed.notify_all();
    return true;
}

bool CueOpener::heldByAnother() {
    std::lock_guard lock(mutex);
    return openingSerial != 0 && openingSerial != serial;
}

std::optional<Mp3Decoder::Opened> CueOpener::take() {
    std::lock_guard lock(mutex);
    hasResult.store(false, std::memory_order_relaxed);
    return std::exchange(result, std::nullopt);
}

std::optional<Mp3Decoder::Opened> CueOpener::await(const std::function<bool()>& giveUp) {
    std::unique_lock lock(mutex);
    while (!result && !wanted.empty() && !giveUp())
        changed.wait_for(lock, std::chrono::milliseconds(10));
    hasResult.store(false, std::memory_order_relaxed);
    return std::exchange(result, std::nullopt);
}

void CueOpener::loop() {
    pthread_setname_np(pthread_self(), "deck opener");
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return quit || (!wanted.empty() && !result); });
        if (quit) return;
        const std::uint64_t mine = serial;
        openingSerial = mine;
        const std::string path = wanted;
        lock.unlock();
        // The serial is read unlocked: a stale read only reads a little longer.
        const std::function<bool()> abandoned = [&] {
            std::lock_guard check(mutex);
            return serial != mine;
        };
        // Counted on its disk while it opens; not begun on a disk that holds too many.
        std::string refusal;
        StrandedThreads::Hold hold = StrandedThreads::process().admit(path, refusal);
        Mp3Decoder::Opened opened =
            hold ? Mp3Decoder::open(path, abandoned) : Mp3Decoder::Opened{nullptr, refusal};
        hold.release();
        lock.lock();
        openingSerial = 0;
        if (serial != mine) continue;  // asked for something else meanwhile
        result = std::move(opened);
        hasResult.store(true, std::memory_order_release);
        wanted.clear();
        changed.notify_all();
        waker.wakeDecoder();
    }
}
