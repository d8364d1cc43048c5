#include "engine/loudness/loudness_service.h"

#include <atomic>
#include <list>
#include <mutex>
#include <unordered_map>

#include "engine/loudness/replay_gain.h"

namespace {

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
// - files, order, stopping: anyone, under `lock`.
// - measurer: made by the constructor, used under `lock` (request) by anyone until `stopping`,
//   then destroyed by the destructor; its listener and its worthMeasuring take `lock` to post.
// - resultCount: bumped under `lock` after a post (release), read without it (acquire) so that
//   a reader who sees the new count finds the post when it then takes the lock.
// - decks: a counter, anyone.
struct LoudnessService::Shared {
    struct File {
        // The strictest asked for; a file forgotten while its tags were read is taken as
        // asked for in Track.
        LevellingMode mode = LevellingMode::Off;
        std::optional<ReplayGainTags> tags{};  // absent until read
        std::optional<MeasuredLoudness> measured{};
        bool measureFailed = false;

        bool done() const {
            return measured || measureFailed || (tags && Levelling::tagsSuffice(*tags, mode));
        }
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
    // A measuring thread, nothing locked: reads the tags unless known; whether the file still
    // needs its measure.
    bool readTags(const std::string& path) {
        {
            std::lock_guard guard(lock);
            if (stopping) return false;
            const auto found = files.find(path);
            if (found != files.end() && found->second.tags) return !found->second.done();
        }
        const ReplayGainTags read = readReplayGainTags(path);
        std::lock_guard guard(lock);
        if (stopping) return false;
        File& file = fileFor(path);
        if (file.mode == LevellingMode::Off) file.mode = LevellingMode::Track;
        file.tags = read;
        posted();
        return !file.done();
    }
    void posted() { resultCount.fetch_add(1, std::memory_order_release); }

    mutable std::mutex lock;
    std::unordered_map<std::string, File> files;
    std::list<std::string> order;
    bool stopping = false;
    std::atomic<std::uint64_t> resultCount{0};
    std::atomic<int> decks{0};
    std::unique_ptr<LoudnessMeasurer> measurer;
};

LoudnessService::LoudnessService(LoudnessMeasurer::Options options)
    : shared(std::make_shared<Shared>()) {
    // A raw pointer: the measurer calls its listener no more once its destructor has begun,
    // and the shared state outlives it. Tags are read by a thread that a hung disk may strand
    // past that: it holds the state itself.
    Shared* state = shared.get();
    options.worthMeasuring = [held = shared](const std::string& path) {
        return held->readTags(path);
    };
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
}

LoudnessService::~LoudnessService() {
    std::unique_lock guard(shared->lock);
    shared->stopping = true;
    // From here no thread asks the measurer for anything: it checks `stopping` under the lock.
    std::unique_ptr<LoudnessMeasurer> measurer = std::move(shared->measurer);
    guard.unlock();
    measurer.reset();  // its threads' listener takes the lock
}

int LoudnessService::enrol() {
    return shared->decks.fetch_add(1, std::memory_order_relaxed);
}

void LoudnessService::request(const std::string& path, LevellingMode mode, bool urgent, int deck) {
    if (mode == LevellingMode::Off || path.empty()) return;
    std::lock_guard guard(shared->lock);
    if (shared->stopping) return;
    Shared::File& file = shared->fileFor(path);
    file.mode = stricter(file.mode, mode);
    // Asked again all the same when it is not done: the deck's newer request may have replaced
    // the one that asked for it.
    if (file.done()) return;
    shared->measurer->request(path, deck, urgent);
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
    return Levelling::guess(*file.tags, mode, preampDb);
}

double LoudnessService::guess(const std::string& path, LevellingMode mode, double preampDb) const {
    std::lock_guard guard(shared->lock);
    const auto found = shared->files.find(path);
    const bool tagged = found != shared->files.end() && found->second.tags;
    return Levelling::guess(tagged ? *found->second.tags : ReplayGainTags{}, mode, preampDb);
}

std::uint64_t LoudnessService::results() const {
    return shared->resultCount.load(std::memory_order_acquire);
}
