#include "engine/loudness_measurer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/file_loudness.h"
#include "engine/loudness_cache.h"

namespace {

// A read that a hung disk strands is not waited for past this when the measurer goes; its
// thread then ends by itself once the read returns.
constexpr auto kStopWait = std::chrono::seconds(2);

// Measuring takes a core for as long as a file decodes. At nice 19 it yields to the decks'
// decoders and the window whenever they want the core, yet never stops altogether: the idle
// policy would leave a file about to play unmeasured for as long as anything else keeps the
// cores busy (a build, a game).
void lowerOwnPriority() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

}  // namespace

// Who touches what:
// - queue, current: the owner (request) and the thread, under `lock`.
// - stopping: set by the destructor under both `lock` and `reporting`; read by the thread under
//   either, and between decode steps without a lock (relaxed: a step more or less is harmless).
// - finished: set by the thread under `lock` as it ends; the destructor waits for it.
// - cache, listener, stepDone, cacheTrouble: the thread alone once it runs (stepDone until
//   it ends).
// - decodeCount: written by the thread, read by anyone (relaxed: a count, ordering nothing).
// `reporting` is held around each call of the listener and of cacheTrouble, so that once the
// destructor has taken it and set stopping, neither is called again.
struct LoudnessMeasurer::Shared {
    Shared(Listener listener, Options& options)
        : listener(std::move(listener)),
          stepDone(std::move(options.stepDone)),
          cacheTrouble(std::move(options.cacheTrouble)),
          cache(std::move(options.cacheFile), options.cacheCapacity) {}

    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::string> queue;
    std::string current;
    bool measuring = false;
    std::atomic<bool> stopping{false};
    bool finished = false;

    std::mutex reporting;
    Listener listener;
    std::function<void(const std::string&, std::int64_t)> stepDone;
    std::function<void(const std::string&)> cacheTrouble;
    bool cacheTroubleTold = false;
    LoudnessCache cache;
    std::atomic<std::uint64_t> decodeCount{0};

    // Measurer thread only. A cache that cannot be written still answers from memory; the
    // cause is told once, not at every idle moment.
    void saveCache() {
        std::string error;
        if (cache.save(error) || cacheTroubleTold) return;
        cacheTroubleTold = true;
        std::lock_guard guard(reporting);
        if (cacheTrouble && !stopping.load(std::memory_order_relaxed))
            cacheTrouble("the loudness cache cannot be written: " + error);
    }

    void report(const std::string& path, const std::optional<MeasuredLoudness>& result) {
        std::lock_guard guard(reporting);
        if (stopping.load(std::memory_order_relaxed)) return;
        if (listener) listener(path, result);
    }
};

LoudnessMeasurer::LoudnessMeasurer(Listener listener, Options options)
    : shared(std::make_shared<Shared>(std::move(listener), options)) {
    try {
        std::thread(&LoudnessMeasurer::run, shared).detach();
    } catch (const std::system_error&) {
        // No thread, no measures: every file plays at its own level.
        shared->finished = true;
    }
}

LoudnessMeasurer::~LoudnessMeasurer() {
    {
        std::scoped_lock both(shared->lock, shared->reporting);
        shared->stopping.store(true, std::memory_order_relaxed);
    }
    shared->changed.notify_all();
    std::unique_lock guard(shared->lock);
    shared->changed.wait_for(guard, kStopWait, [&] { return shared->finished; });
}

void LoudnessMeasurer::request(const std::string& path, bool urgent) {
    {
        std::lock_guard guard(shared->lock);
        if (shared->measuring && shared->current == path) return;
        auto& queue = shared->queue;
        const auto queued = std::find(queue.begin(), queue.end(), path);
        if (queued != queue.end()) {
            if (!urgent) return;
            queue.erase(queued);
        }
        if (urgent)
            queue.push_front(path);
        else
            queue.push_back(path);
    }
    shared->changed.notify_all();
}

std::uint64_t LoudnessMeasurer::decodes() const {
    return shared->decodeCount.load(std::memory_order_relaxed);
}

// Measurer thread only: takes the queue's paths in turn until the destructor stops it. The
// thread holds its own reference to the shared state, so a thread stranded by a hung disk
// outlives the measurer safely.
void LoudnessMeasurer::run(std::shared_ptr<Shared> shared) {
    lowerOwnPriority();
    Shared& s = *shared;
    for (;;) {
        std::string path;
        {
            std::unique_lock guard(s.lock);
            s.changed.wait(guard, [&] {
                return s.stopping.load(std::memory_order_relaxed) || !s.queue.empty();
            });
            if (s.stopping.load(std::memory_order_relaxed)) break;
            path = std::move(s.queue.front());
            s.queue.pop_front();
            s.current = path;
            s.measuring = true;
        }

        const std::optional<FileIdentity> before = identifyFile(path);
        std::optional<MeasuredLoudness> result;
        if (before) result = s.cache.find(*before);
        if (before && !result) {
            s.decodeCount.fetch_add(1, std::memory_order_relaxed);
            FileLoudness::Progress progress;
            progress.stop = [&] { return s.stopping.load(std::memory_order_relaxed); };
            if (s.stepDone)
                progress.stepDone = [&](std::int64_t frames) { s.stepDone(path, frames); };
            result = FileLoudness::measure(path, progress);
            // A file that changed while it was measured is measured again when next asked.
            const std::optional<FileIdentity> after = identifyFile(path);
            if (result && after && after->size == before->size &&
                after->modifiedNs == before->modifiedNs)
                s.cache.store(*before, *result);
        }
        if (!s.stopping.load(std::memory_order_relaxed)) {
            // The file is written while nothing else waits to be measured, before the listener
            // hears: whoever hears of a measure finds it kept.
            bool idle = false;
            {
                std::lock_guard guard(s.lock);
                idle = s.queue.empty();
            }
            if (idle && s.cache.hasUnsavedChanges()) s.saveCache();
            s.report(path, result);
        }

        std::lock_guard guard(s.lock);
        s.measuring = false;
        s.current.clear();
    }
    if (s.cache.hasUnsavedChanges()) s.saveCache();
    std::lock_guard guard(s.lock);
    s.finished = true;
    s.changed.notify_all();
}
