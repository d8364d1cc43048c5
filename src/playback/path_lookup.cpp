#include "playback/path_lookup.h"

#include <sys/stat.h>

#include <QThread>
#include <QTimer>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "components/error_sink.h"
#include "components/stranded_threads.h"
#include "components/window_waits.h"
#include "playback/music_listing.h"

namespace {

// What a local folder takes, with room for a busy machine: an answer within it is acted on
// before the handler returns, as it always was. A listing that is still going on (a big
// local folder) is given more such waits, up to kLookupPatience; a disk that does not answer
// gives no entry and is waited for once.
constexpr auto kAnswerWait = std::chrono::milliseconds(50);
constexpr auto kSlowLook = std::chrono::seconds(2);

}  // namespace

// One request, shared by the UI thread and the lookup thread that answers it.
// - The lookup thread alone writes `finding` and `stage`; it then sets `done` under `mutex`
//   and, unless the UI thread is waiting for it (`uiWaits`), posts the answer to `owner`'s
//   relay. Posting under the mutex makes that safe: the UI thread clears `owner` under the
//   same mutex when the request is superseded or the lookup goes, before the relay can.
// - The UI thread takes `finding` only after it has seen `done`, under the mutex.
// - `stage` only words the slow report and `entriesRead` only tells the UI thread that the
//   listing goes on; both may be read a little late: relaxed.
struct PathLookup::Job {
    enum class Stage { Looking, Listing };

    Job(std::uint64_t serial, Request request, PathLookup* owner, StrandedThreads::Hold hold)
        : serial(serial), request(std::move(request)), owner(owner), hold(std::move(hold)) {}

    // Lookup thread only: may block for as long as the disk does not answer.
    void work(const std::shared_ptr<Job>& self);
    Finding find();
    std::string slowText() const;

    const std::uint64_t serial;
    const Request request;
    std::atomic<Stage> stage{Stage::Looking};
    std::atomic<std::size_t> entriesRead{0};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;           // guarded by mutex
    bool uiWaits = true;         // guarded by mutex; the UI thread waits from the start
    PathLookup* owner;           // guarded by mutex; nullptr once nobody awaits the answer
    Finding finding;             // see above
    StrandedThreads::Hold hold;  // the lookup thread's, let go as it has its finding
};

PathLookup::Finding PathLookup::Job::find() {
    Finding found;
    if (!request.path.empty()) {
        struct stat info {};
        if (::stat(request.path.c_str(), &info) != 0) {
            found.lookError = errno;
            return found;
        }
        found.mode = info.st_mode;
        if (!S_ISDIR(info.st_mode)) return found;
    }
    if (request.folder.empty()) return found;
    stage.store(Stage::Listing, std::memory_order_relaxed);
    found.names = readMp3Names(request.folder, found.listError, &entriesRead);
    return found;
}

void PathLookup::Job::work(const std::shared_ptr<Job>& self) {
    Finding found = find();
    hold.release();
    std::lock_guard lock(mutex);
    finding = std::move(found);
    done = true;
    if (uiWaits) {
        ended.notify_all();
    } else if (owner) {
        QMetaObject::invokeMethod(
            &owner->relay, [lookup = owner, self] { lookup->deliver(self); }, Qt::QueuedConnection);
    }
}

std::string PathLookup::Job::slowText() const {
    return stage.load(std::memory_order_relaxed) == Stage::Looking ? "Looking at " + request.path
                                                                   : "Listing " + request.folder;
}

PathLookup::PathLookup(ErrorSink& errors) : errors(errors) {}

PathLookup::~PathLookup() {
    for (const auto& job : running) {
        std::lock_guard lock(job->mutex);
        job->owner = nullptr;
    }
}

std::uint64_t PathLookup::request(Request request, Answer answer) {
    assert(relay.thread() == QThread::currentThread());
    supersede();
    const std::string wanted = request.path.empty() ? request.folder : request.path;
    pruneRunning();
    std::string refusal;
    StrandedThreads::Hold hold = StrandedThreads::process().admit(wanted, refusal);
    if (!hold) {
        errors.report("Cannot open " + wanted + ": " + refusal);
        return 0;
    }
    auto job = std::make_shared<Job>(++lastSerial, std::move(request), this, std::move(hold));
    try {
        std::thread([job] { job->work(job); }).detach();
    } catch (const std::system_error& e) {
        errors.report("Cannot open " + wanted + ": no thread to look at it (" + e.what() + ")");
        return 0;
    }
    running.push_back(job);
    awaited = job;
    awaitedAnswer = std::move(answer);
    {
        std::unique_lock lock(job->mutex);
        const auto start = std::chrono::steady_clock::now();
        std::size_t entriesSeen = 0;
        bool answered = false;
        for (;;) {
            answered = job->ended.wait_for(lock, kAnswerWait, [&] { return job->done; });
            const std::size_t entries = job->entriesRead.load(std::memory_order_relaxed);
            if (answered || entries == entriesSeen ||
                std::chrono::steady_clock::now() - start >= kLookupPatience)
                break;
            entriesSeen = entries;
        }
        job->uiWaits = false;
        if (!answered) {
            lock.unlock();
            watchForSlowAnswer(job);
            return job->serial;
        }
    }
    deliver(job);
    return job->serial;
}

bool PathLookup::awaits(std::uint64_t serial) const {
    return serial != 0 && awaited && awaited->serial == serial;
}

void PathLookup::watchForSlowAnswer(const std::shared_ptr<Job>& job) {
    QTimer::singleShot(kSlowLook, &relay, [this, job] { reportIfSlow(job); });
}

void PathLookup::supersede() {
    if (!awaited) return;
    {
        std::lock_guard lock(awaited->mutex);
        awaited->owner = nullptr;
    }
    awaited.reset();
    awaitedAnswer = nullptr;
}

void PathLookup::deliver(const std::shared_ptr<Job>& job) {
    // An answer posted before its request was superseded still arrives: the serial tells.
    if (!awaited || awaited->serial != job->serial) return;
    Answer answer = std::move(awaitedAnswer);
    awaited.reset();
    Finding finding;
    {
        std::lock_guard lock(job->mutex);
        finding = std::move(job->finding);
    }
    answer(std::move(finding));  // may make a new request
}

void PathLookup::reportIfSlow(const std::shared_ptr<Job>& job) {
    if (!awaited || awaited->serial != job->serial) return;
    {
        std::lock_guard lock(job->mutex);
        if (job->done) return;  // answered; the answer is on its way
    }
    errors.report(job->slowText() + " has taken more than 2 s: its disk does not answer");
}

void PathLookup::pruneRunning() {
    std::erase_if(running, [](const std::shared_ptr<Job>& job) {
        std::lock_guard lock(job->mutex);
        return job->done;
    });
}
