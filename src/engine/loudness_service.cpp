#include "engine/loudness_service.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "engine/replay_gain.h"

namespace {

// A read that a hung disk strands is not waited for past this when the service goes.
constexpr auto kStopWait = std::chrono::seconds(2);
// Files remembered this run; the measurer's cache keeps the measures between runs.
constexpr std::size_t kCapacity = 4096;

// Track asks more of the tags than Album, which makes do with a track gain: a file asked for
// in both modes is treated as asked for in Track.
LevellingMode stricter(LevellingMode a, LevellingMode b) {
    return a == LevellingMode::Track || b == LevellingMode::Track   ? LevellingMode::Track
           : a == LevellingMode::Album || b == LevellingMode::Album ? LevellingMode::Album
                                                                    : LevellingMode::Off;
}

}  // namespace

// Who touches what:
// - files, order, queue, stopping, finished: anyone, under `lock`.
// - measurer: made by the constructor, used under `lock` (request) by anyone until `stopping`,
//   then destroyed by the destructor; its listener takes `lock` to post.
// - resultCount: bumped under `lock` after a post (release), read without it (acquire) so that
//   a reader who sees the new count finds the post when it then takes the lock.
struct LoudnessService::Shared {
    struct File {
        std::optional<ReplayGainTags> tags{};  // absent until read
        std::optional<MeasuredLoudness> measured{};
        bool measureFailed = false;
        bool measureAsked = false;
    };
    struct Wanted {
        std::string path;
        LevellingMode mode;
        bool urgent;
    };

    // Under `lock`: a file's entry, the oldest forgotten beyond kCapacity.
    File& fileFor(const std::string& path) {
        auto found = files.find(path);
        if (found != files.end()) return found->second;
        if (order.size() >= kCapacity) {
            files.erase(order.front());
            order.pop_front();
        }
        order.push_back(path);
        return files[path];
    }
    // Under `lock`: once the tags are known, the measure where they do not suffice.
    void measureIfNeeded(const std::string& path, File& file, LevellingMode mode, bool urgent) {
        if (!file.tags || Levelling::tagsSuffice(*file.tags, mode) || file.measured ||
            file.measureFailed || !measurer)
            return;
        // Asked again when urgent: the file may wait behind others and is now about to play.
        if (file.measureAsked && !urgent) return;
        file.measureAsked = true;
        measurer->request(path, urgent);
    }
    void posted() { resultCount.fetch_add(1, std::memory_order_release); }

    mutable std::mutex lock;
    std::condition_variable changed;
    std::unordered_map<std::string, File> files;
    std::list<std::string> order;
    std::deque<Wanted> queue;
    bool stopping = false;
    bool finished = false;
    std::atomic<std::uint64_t> resultCount{0};
    std::unique_ptr<LoudnessMeasurer> measurer;
};

LoudnessService::LoudnessService(LoudnessMeasurer::Options options)
    : shared(std::make_shared<Shared>()) {
    // A raw pointer: the measurer calls its listener no more once its destructor has begun,
    // and the shared state outlives it.
    Shared* state = shared.get();
    shared->measurer = std::make_unique<LoudnessMeasurer>(
        [state](const std::string& path, const std::optional<MeasuredLoudness>& result) {
            std::lock_guard guard(state->lock);
            const auto found = state->files.find(path);
            if (found == state->files.end()) return;
            found->second.measured = result;
            found->second.measureFailed = !result;
            state->posted();
        },
        std::move(options));
    try {
        std::thread(&LoudnessService::run, shared).detach();
    } catch (const std::system_error&) {
        // No thread, no tags: every file plays at its own level.
        shared->finished = true;
    }
}

LoudnessService::~LoudnessService() {
    std::unique_lock guard(shared->lock);
    shared->stopping = true;
    shared->changed.notify_all();
    shared->changed.wait_for(guard, kStopWait, [&] { return shared->finished; });
    // From here no thread asks the measurer for anything: it checks `stopping` under the lock.
    std::unique_ptr<LoudnessMeasurer> measurer = std::move(shared->measurer);
    guard.unlock();
    measurer.reset();  // its thread's listener takes the lock
}

void LoudnessService::request(const std::string& path, LevellingMode mode, bool urgent) {
    if (mode == LevellingMode::Off || path.empty()) return;
    {
        std::lock_guard guard(shared->lock);
        if (shared->stopping) return;
        Shared::File& file = shared->fileFor(path);
        if (file.tags) {
            shared->measureIfNeeded(path, file, mode, urgent);
            return;
        }
        auto& queue = shared->queue;
        const auto queued = std::find_if(queue.begin(), queue.end(),
                                         [&](const Shared::Wanted& w) { return w.path == path; });
        Shared::Wanted wanted{path, mode, urgent};
        if (queued != queue.end()) {
            wanted.mode = stricter(queued->mode, mode);
            if (!urgent) {
                queued->mode = wanted.mode;
                return;
            }
            queue.erase(queued);
        }
        if (urgent)
            queue.push_front(std::move(wanted));
        else
            queue.push_back(std::move(wanted));
    }
    shared->changed.notify_all();
}

std::optional<double> LoudnessService::gain(const std::string& path, LevellingMode mode,
                                            double preampDb) const {
    if (mode == LevellingMode::Off) return 1.0;
    std::lock_guard guard(shared->lock);
    const auto found = shared->files.find(path);
    if (found == shared->files.end() || !found->second.tags) return std::nullopt;
    const Shared::File& file = found->second;
    const std::optional<double> known =
        Levelling::gain(LevellingInfo{*file.tags, file.measured}, mode, preampDb);
    if (known || !file.measureFailed) return known;
    return std::pow(10.0, preampDb / 20.0);
}

std::uint64_t LoudnessService::results() const {
    return shared->resultCount.load(std::memory_order_acquire);
}

// The service's thread only: reads the tags of the queue's files in turn until the destructor
// stops it. It holds its own reference to the shared state, so a thread stranded by a hung disk
// outlives the service safely.
void LoudnessService::run(std::shared_ptr<Shared> shared) {
    pthread_setname_np(pthread_self(), "loudness tags");
    Shared& s = *shared;
    std::unique_lock guard(s.lock);
    for (;;) {
        s.changed.wait(guard, [&] { return s.stopping || !s.queue.empty(); });
        if (s.stopping) break;
        const Shared::Wanted wanted = std::move(s.queue.front());
        s.queue.pop_front();
        guard.unlock();
        const ReplayGainTags tags = readReplayGainTags(wanted.path);
        guard.lock();
        if (s.stopping) break;
        Shared::File& file = s.fileFor(wanted.path);
        file.tags = tags;
        s.measureIfNeeded(wanted.path, file, wanted.mode, wanted.urgent);
        s.posted();
    }
    s.finished = true;
    s.changed.notify_all();
}
