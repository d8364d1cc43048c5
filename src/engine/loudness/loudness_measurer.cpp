#include "engine/loudness/loudness_measurer.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "components/stranded_threads.h"
#include "engine/loudness/file_loudness.h"
#include "engine/loudness/loudness_cache.h"

namespace {

using Clock = std::chrono::steady_clock;

// A read that a hung disk strands is not waited for past this when the measurer goes; its
// thread then ends by itself once the read returns.
constexpr auto kStopWait = std::chrono::seconds(2);
// A cache that could not be written is tried again after this, then after twice as long each
// time, up to kLongestBackOff: a folder that stays unwritable costs a try every few minutes.
constexpr auto kFirstBackOff = std::chrono::seconds(30);
constexpr auto kLongestBackOff = std::chrono::minutes(10);

// Measuring takes a core for as long as a file decodes. At nice 19 it yields to the decks'
// decoders and the window whenever they want the core, yet never stops altogether: the idle
// policy would leave a file about to play unmeasured for as long as anything else keeps the
// cores busy (a build, a game).
void lowerOwnPriority() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

}  // namespace

// A file taken up by a thread. `abandoned` is set under the measurer's lock by whoever no
// longer wants it, and read by its thread between steps without it (relaxed: a step more or
// less is harmless).
struct LoudnessMeasurer::Job {
    explicit Job(std::string path) : path(std::move(path)) {}
    const std::string path;
    std::atomic<bool> abandoned{false};
    StrandedThreads::Hold stranded;  // from its abandoning on, under the measurer's lock
};

// Who touches what:
// - lanes, workers, idle, stranded, saver, saveDue, backOff, stores, storesSaved: anyone,
//   under `lock`; the destructor waits on `changed` until only stranded threads are left.
// - stopping: set by the destructor under both `lock` and `reporting`; read by the threads
//   under either, and between decode steps without a lock (relaxed).
// - cache: the threads, under `cacheLock`, never taken together with `lock`.
// - listener, stepDone, cacheTrouble, worthMeasuring: the threads, each call of the listener
//   and of cacheTrouble under `reporting`, so that once the destructor has taken it and set
//   stopping, neither is called again.
// - decodeCount, writeCount: written by the threads, read by anyone (relaxed: counts).
struct LoudnessMeasurer::Shared {
    // What a deck asked for last: the file it is about to play and the one after it, each
    // pending until a thread takes it up.
    struct Lane {
        std::string now;
        std::string next;
        bool nowPending = false;
        bool nextPending = false;
        std::shared_ptr<Job> running;  // until it ends or is abandoned

        bool waiting() const { return !running && (nowPending || nextPending); }
        bool wants(const std::string& path) const { return path == now || path == next; }
        const std::string& taken() const { return nowPending ? now : next; }
        // Waiting, on a disk that takes one more thread.
        bool ready() const {
            std::string refusal;
            return waiting() && StrandedThreads::process().admits(taken(), refusal);
        }
    };

    Shared(Listener listener, Options& options)
        : listener(std::move(listener)),
          stepDone(std::move(options.stepDone)),
          cacheTrouble(std::move(options.cacheTrouble)),
          worthMeasuring(std::move(options.worthMeasuring)),
          writeEvery(options.cacheWriteEvery),
          cache(std::move(options.cacheFile), options.cacheCapacity) {}

    // Under `lock`: the lane whose file a thread should take up next, nullptr if none.
    Lane* waitingLane() {
        for (auto& [deck, lane] : lanes)
            if (lane.ready()) return &lane;
        return nullptr;
    }
    // Under `lock`: threads for the lanes that wait, where their disks take them.
    void dispatch() {
        int waiting = 0;
        for (const auto& [deck, lane] : lanes) waiting += lane.ready() ? 1 : 0;
        if (waiting == 0) return;
        changed.notify_all();
        for (; waiting > idle; ++workers, ++idle) {
            try {
                std::thread(&LoudnessMeasurer::run, self.lock()).detach();
            } catch (const std::system_error&) {
                return;  // the threads there are take the lanes in turn
            }
        }
    }
    // Under `lock`: the lane's measure under way is no longer wanted. Its thread comes back
    // at its next step, or, on a disk that does not answer, when the disk does.
    void abandon(Lane& lane) {
        lane.running->abandoned.store(true, std::memory_order_relaxed);
        lane.running->stranded = StrandedThreads::process().keep(lane.running->path);
        lane.running.reset();
        ++stranded;
    }
    bool unsaved() const { return stores != storesSaved; }

    // A measuring thread, nothing locked: the measure of `job`'s file, from the cache or
    // decoded.
    std::optional<MeasuredLoudness> measure(const Job& job);
    // A measuring thread, nothing locked: writes the cache, and schedules the next write.
    void saveCache();
    void report(const std::string& path, const std::optional<MeasuredLoudness>& result) {
        std::lock_guard guard(reporting);
        if (stopping.load(std::memory_order_relaxed)) return;
        if (listener) listener(path, result);
    }

    std::weak_ptr<Shared> self;
    std::mutex lock;
    std::condition_variable changed;
    std::map<int, Lane> lanes;
    int workers = 0;     // threads alive, stranded or not
    int idle = 0;        // threads looking for a lane, started ones included
    int stranded = 0;    // threads on an abandoned file
    bool saver = false;  // an idle thread waits for the next write of the cache
    Clock::time_point saveDue{};
    Clock::duration backOff = kFirstBackOff;
    std::uint64_t stores = 0;  // measures kept in the cache
    std::uint64_t storesSaved = 0;
    std::atomic<bool> stopping{false};

    std::mutex reporting;
    Listener listener;
    std::function<void(const std::string&, std::int64_t)> stepDone;
    std::function<void(const std::string&)> cacheTrouble;
    std::function<bool(const std::string&)> worthMeasuring;
    bool cacheTroubleTold = false;  // under reporting
    const Clock::duration writeEvery;

    std::mutex cacheLock;
    LoudnessCache cache;
    std::atomic<std::uint64_t> decodeCount{0};
    std::atomic<std::uint64_t> writeCount{0};
};

std::optional<MeasuredLoudness> LoudnessMeasurer::Shared::measure(const Job& job) {
    const std::optional<FileIdentity> before = identifyFile(job.path);
    if (!before) return std::nullopt;
    {
        std::lock_guard guard(cacheLock);
        if (auto kept = cache.find(*before)) return kept;
    }
    decodeCount.fetch_add(1, std::memory_order_relaxed);
    FileLoudness::Progress progress;
    progress.stop = [&] {
        return stopping.load(std::memory_order_relaxed) ||
               job.abandoned.load(std::memory_order_relaxed);
    };
    if (stepDone) progress.stepDone = [&](std::int64_t frames) { stepDone(job.path, frames); };
    std::optional<MeasuredLoudness> result = FileLoudness::measure(job.path, progress);
    // A file that changed while it was measured is measured again when next asked.
    const std::optional<FileIdentity> after = identifyFile(job.path);
    if (result && after && after->size == before->size && after->modifiedNs == before->modifiedNs) {
        {
            std::lock_guard guard(cacheLock);
            cache.store(*before, *result);
        }
        std::lock_guard guard(lock);
        ++stores;
    }
    return result;
}

void LoudnessMeasurer::Shared::saveCache() {
    std::uint64_t saving = 0;
    {
        std::lock_guard guard(lock);
        if (!unsaved()) return;
        saving = stores;
    }
    std::string error;
    bool saved = false;
    {
        std::lock_guard guard(cacheLock);
        saved = cache.save(error);
    }
    writeCount.fetch_add(1, std::memory_order_relaxed);
    {
        std::lock_guard guard(lock);
        const Clock::time_point now = Clock::now();
        if (saved) {
            storesSaved = saving;
            backOff = kFirstBackOff;
            saveDue = now + writeEvery;
        } else {
            saveDue = now + std::max(backOff, writeEvery);
            backOff = std::min<Clock::duration>(backOff * 2, kLongestBackOff);
        }
    }
    if (saved) return;
    // A cache that cannot be written still answers from memory; the cause is told once.
    std::lock_guard guard(reporting);
    if (cacheTroubleTold || stopping.load(std::memory_order_relaxed)) return;
    cacheTroubleTold = true;
    if (cacheTrouble) cacheTrouble("the loudness cache cannot be written: " + error);
}

LoudnessMeasurer::LoudnessMeasurer(Listener listener, Options options)
    : shared(std::make_shared<Shared>(std::move(listener), options)) {
    shared->self = shared;
}

LoudnessMeasurer::~LoudnessMeasurer() {
    {
        std::scoped_lock both(shared->lock, shared->reporting);
        shared->stopping.store(true, std::memory_order_relaxed);
    }
    shared->changed.notify_all();
    std::unique_lock guard(shared->lock);
    // Threads stranded on a disk come back when it answers, not for the measurer going.
    shared->changed.wait_for(guard, kStopWait, [&] { return shared->workers == shared->stranded; });
}

void LoudnessMeasurer::request(const std::string& path, int deck, bool urgent) {
    std::lock_guard guard(shared->lock);
    if (shared->stopping.load(std::memory_order_relaxed)) return;
    Shared::Lane& lane = shared->lanes[deck];
    const bool running = lane.running && lane.running->path == path;
    if (urgent) {
        lane.now = path;
        lane.nowPending = !running;
        // The next file has become the current one: asked once.
        if (lane.next == path) {
            lane.next.clear();
            lane.nextPending = false;
        }
    } else {
        if (lane.now == path) return;  // asked for already, more urgently
        lane.next = path;
        lane.nextPending = !running;
    }
    if (lane.running && !lane.wants(lane.running->path)) shared->abandon(lane);
    shared->dispatch();
}

std::uint64_t LoudnessMeasurer::decodes() const {
    return shared->decodeCount.load(std::memory_order_relaxed);
}

std::uint64_t LoudnessMeasurer::cacheWrites() const {
    return shared->writeCount.load(std::memory_order_relaxed);
}

// A measuring thread: takes up the lanes' files in turn, writes the cache when it is due, and
// ends when nothing is left to do. It holds its own reference to the shared state, so a thread
// stranded by a hung disk outlives the measurer safely.
void LoudnessMeasurer::run(std::shared_ptr<Shared> shared) {
    pthread_setname_np(pthread_self(), "loudness");
    lowerOwnPriority();
    Shared& s = *shared;
    std::unique_lock guard(s.lock);
    for (;;) {
        if (s.stopping.load(std::memory_order_relaxed)) break;
        if (Shared::Lane* lane = s.waitingLane()) {
            const bool urgent = lane->nowPending;
            const std::string& path = lane->taken();
            (urgent ? lane->nowPending : lane->nextPending) = false;
            auto job = std::make_shared<Job>(path);
            lane->running = job;
            --s.idle;
            guard.unlock();

            const bool wanted = !s.worthMeasuring || s.worthMeasuring(job->path);
            std::optional<MeasuredLoudness> result;
            if (wanted && !job->abandoned.load(std::memory_order_relaxed)) result = s.measure(*job);
            bool saveNow = false;
            {
                std::lock_guard relock(s.lock);
                saveNow = s.unsaved() && Clock::now() >= s.saveDue && !s.saver;
            }
            // Written before the listener hears, when it is due: whoever hears of a measure
            // then finds it kept.
            if (saveNow && !s.stopping.load(std::memory_order_relaxed)) s.saveCache();
            if (wanted && !job->abandoned.load(std::memory_order_relaxed))
                s.report(job->path, result);

            guard.lock();
            ++s.idle;
            job->stranded.release();
            if (job->abandoned.load(std::memory_order_relaxed))
                --s.stranded;
            else
                lane->running.reset();
            s.dispatch();
            continue;
        }
        if (!s.unsaved() || s.saver) break;
        // The last measures wait for their write here, unless another file comes first.
        s.saver = true;
        s.changed.wait_until(guard, s.saveDue, [&] {
            return s.stopping.load(std::memory_order_relaxed) || s.waitingLane() != nullptr;
        });
        s.saver = false;
        if (s.stopping.load(std::memory_order_relaxed) || s.waitingLane() ||
            Clock::now() < s.saveDue)
            continue;
        guard.unlock();
        s.saveCache();
        guard.lock();
    }
    --s.idle;
    if (s.stopping.load(std::memory_order_relaxed) && s.unsaved() && !s.saver) {
        // The measurer goes: what it kept is written now, whatever the schedule.
        s.saver = true;
        guard.unlock();
        s.saveCache();
        guard.lock();
        s.saver = false;
    }
    --s.workers;
    s.changed.notify_all();
}
