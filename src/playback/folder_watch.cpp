#include "playback/folder_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QThread>
#include <QTimer>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "components/error_sink.h"
#include "components/stranded_threads.h"
#include "playback/music_listing.h"
#include "playback/relist_schedule.h"

namespace {

constexpr auto kSlowCall = std::chrono::seconds(2);
// Names come and go; a file's contents changing does not move it in the playlist.
constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

std::string cannotFollow(const std::string& dir, const std::string& cause) {
    return "Cannot follow the changes of " + dir + ": " + cause;
}

}  // namespace

// One folder under watch, shared by the UI thread and the watch's thread.
// - The watch's thread alone reads the inotify descriptor, lists, and keeps the members marked
//   as its own. It posts each listing, each line to tell and each disk call it begins to
//   `owner`'s relay under `mutex`; the UI thread clears `owner` under the same mutex when the
//   watch moves or goes, so that nothing is posted to a relay that is gone. What was posted
//   before still arrives, and is dropped there: the session is no longer the current one.
// - The UI thread sets `stopped` (release) and then writes to `wakeFd`, which ends the thread's
//   wait; the thread reads `stopped` (acquire) after each wait and each disk call.
// - `diskCallsEnded` is the number of the thread's last disk call that returned. The UI thread
//   reads it 2 s after a call began to tell whether the disk answers; relaxed: at worst a late
//   value tells once of a disk that had just answered.
// - `told` and `listings` are the UI thread's alone.
struct FolderWatch::Session {
    using Clock = RelistSchedule::Clock;

    Session(std::string dir, int wakeFd, FolderWatch* owner)
        : dir(std::move(dir)), wakeFd(wakeFd), owner(owner) {}
    ~Session() { ::close(wakeFd); }

    // The watch's thread only, from its start to its end: may block while the disk does not
    // answer.
    void run(const std::shared_ptr<Session>& self);
    bool addWatch(const std::shared_ptr<Session>& self, int inotifyFd);
    void readChanges(int inotifyFd);
    // Whether `event` may change the playlist.
    bool noteChange(const inotify_event& event);
    void list(const std::shared_ptr<Session>& self);
    std::uint64_t beginDiskCall(const std::shared_ptr<Session>& self, const std::string& what);
    void tell(const std::shared_ptr<Session>& self, const std::string& line);
    template <typename Work>
    void post(const std::shared_ptr<Session>& self, Work work);
    bool stopping() const { return stopped.load(std::memory_order_acquire); }

    const std::string dir;
    const int wakeFd;
    std::atomic<bool> stopped{false};
    std::atomic<std::uint64_t> diskCallsEnded{0};
    std::mutex mutex;
    FolderWatch* owner;  // guarded by mutex

    // The watch's thread's own.
    std::uint64_t diskCallsBegun = 0;
    RelistSchedule schedule;
    bool watchGone = false;  // the folder went, or its file system
    std::vector<FolderRename> renames;
    // Names moved away, by cookie, until their arrival says where to. The older map holds
    // those seen before the last listing: a name still unmatched after two goes with it.
    std::unordered_map<std::uint32_t, std::string> movedAway, movedAwayBefore;

    // The UI thread's own.
    bool told = false;
    int listings = 0;
};

template <typename Work>
void FolderWatch::Session::post(const std::shared_ptr<Session>& self, Work work) {
    std::lock_guard lock(mutex);
    if (!owner) return;
    QMetaObject::invokeMethod(
        &owner->relay,
        [watch = owner, self, work = std::move(work)]() mutable {
            if (watch->current == self) work(*watch, self);
        },
        Qt::QueuedConnection);
}

void FolderWatch::Session::tell(const std::shared_ptr<Session>& self, const std::string& line) {
    post(self, [line](FolderWatch& watch, const std::shared_ptr<Session>& session) {
        watch.tellOnce(session, line);
    });
}

std::uint64_t FolderWatch::Session::beginDiskCall(const std::shared_ptr<Session>& self,
                                                  const std::string& what) {
    const std::uint64_t call = ++diskCallsBegun;
    post(self, [call, what](FolderWatch& watch, const std::shared_ptr<Session>& session) {
        watch.watchForSlowCall(session, call, what);
    });
    return call;
}

void FolderWatch::Session::run(const std::shared_ptr<Session>& self) {
    const int inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) {
        tell(self, cannotFollow(dir, std::strerror(errno)));
        return;
    }
    const FdCloser closer{inotifyFd};
    if (!addWatch(self, inotifyFd)) return;
    // What changed between the listing that made the playlist and the watch is in the first
    // listing; it waits as a change does, so that it does not compete with the start of the
    // first entry.
    schedule.changed(Clock::now());
    for (;;) {
        if (stopping()) return;
        const auto now = Clock::now();
        const std::optional<Clock::time_point> due = schedule.due();
        if (due && *due <= now) {
            list(self);
            if (watchGone) return;
            continue;
        }
        const int timeoutMs =
            due ? int(std::chrono::ceil<std::chrono::milliseconds>(*due - now).count()) : -1;
        pollfd waits[] = {{inotifyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(waits, 2, timeoutMs) < 0 && errno != EINTR) {
            tell(self, cannotFollow(dir, std::strerror(errno)));
            return;
        }
        if (waits[0].revents & POLLIN) readChanges(inotifyFd);
    }
}

bool FolderWatch::Session::addWatch(const std::shared_ptr<Session>& self, int inotifyFd) {
    std::string refusal;
    StrandedThreads::Hold hold = StrandedThreads::process().admit(dir, refusal);
    if (!hold) {
        tell(self, cannotFollow(dir, refusal));
        return false;
    }
    const std::uint64_t call = beginDiskCall(self, "Watching " + dir);
    const int added = ::inotify_add_watch(inotifyFd, dir.c_str(), kEvents);
    const int cause = errno;
    diskCallsEnded.store(call, std::memory_order_relaxed);
    if (added < 0) tell(self, cannotFollow(dir, std::strerror(cause)));
    return added >= 0;
}

void FolderWatch::Session::readChanges(int inotifyFd) {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(inotifyFd, buffer, sizeof buffer);
        if (got <= 0) return;  // all read
        const auto now = Clock::now();
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (noteChange(*event)) schedule.changed(now);
        }
    }
}

bool FolderWatch::Session::noteChange(const inotify_event& event) {
    if (event.mask & IN_IGNORED) {
        watchGone = true;
        return true;
    }
    if (event.mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) return true;
    const std::string name = event.len > 0 ? event.name : "";
    if (event.mask & IN_MOVED_FROM) {
        movedAway[event.cookie] = name;
        return hasMp3Extension(name.c_str());
    }
    if (event.mask & IN_MOVED_TO) {
        std::string from;
        for (auto* away : {&movedAway, &movedAwayBefore}) {
            const auto found = away->find(event.cookie);
            if (found == away->end()) continue;
            from = std::move(found->second);
            away->erase(found);
            break;
        }
        const bool mayMatter = hasMp3Extension(name.c_str()) || hasMp3Extension(from.c_str());
        if (mayMatter && !from.empty()) renames.push_back({std::move(from), name});
        return mayMatter;
    }
    return hasMp3Extension(name.c_str());
}

void FolderWatch::Session::list(const std::shared_ptr<Session>& self) {
    schedule.listingBegins();
    std::string refusal;
    StrandedThreads::Hold hold = StrandedThreads::process().admit(dir, refusal);
    if (!hold) {
        tell(self, cannotFollow(dir, refusal));
        return;  // the next change tries again
    }
    const std::uint64_t call = beginDiskCall(self, "Listing " + dir);
    std::string error;
    std::vector<std::string> names = readMp3Names(dir, error);
    diskCallsEnded.store(call, std::memory_order_relaxed);
    hold.release();
    if (stopping()) return;
    if (!error.empty()) {
        tell(self, error);
        // A folder that cannot be read says nothing of its files, unless it is gone (deleted,
        // or its file system unmounted): then so are they.
        if (!watchGone) return;
        names.clear();
    }
    sortNaturally(names);
    Listing listing{std::move(names), std::move(renames)};
    renames.clear();
    movedAwayBefore = std::move(movedAway);
    movedAway.clear();
    post(self, [listing = std::move(listing)](FolderWatch& watch,
                                              const std::shared_ptr<Session>& session) mutable {
        watch.take(session, std::move(listing));
    });
}

FolderWatch::FolderWatch(ErrorSink& errors, Answer answer)
    : errors(errors), answer(std::move(answer)) {}

FolderWatch::~FolderWatch() {
    stop();
}

void FolderWatch::watch(const std::string& dir) {
    assert(relay.thread() == QThread::currentThread());
    stop();
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        errors.report(cannotFollow(dir, std::strerror(errno)));
        return;
    }
    auto session = std::make_shared<Session>(dir, wakeFd, this);
    try {
        std::thread([session] { session->run(session); }).detach();
    } catch (const std::system_error& e) {
        errors.report(cannotFollow(dir, std::string("no thread to watch it (") + e.what() + ")"));
        return;
    }
    current = std::move(session);
}

void FolderWatch::stop() {
    assert(relay.thread() == QThread::currentThread());
    if (!current) return;
    {
        std::lock_guard lock(current->mutex);
        current->owner = nullptr;
    }
    current->stopped.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t woken = ::write(current->wakeFd, &one, sizeof one);
    current.reset();
}

std::string FolderWatch::folder() const {
    return current ? current->dir : std::string();
}

int FolderWatch::listings() const {
    return current ? current->listings : 0;
}

void FolderWatch::take(const std::shared_ptr<Session>& session, Listing&& listing) {
    ++session->listings;
    answer(std::move(listing));  // may move the watch
}

void FolderWatch::tellOnce(const std::shared_ptr<Session>& session, const std::string& line) {
    if (session->told) return;
    session->told = true;
    errors.report(line);
}

void FolderWatch::watchForSlowCall(const std::shared_ptr<Session>& session, std::uint64_t call,
                                   const std::string& what) {
    QTimer::singleShot(kSlowCall, &relay, [this, session, call, what] {
        if (current != session || session->diskCallsEnded.load(std::memory_order_relaxed) >= call)
            return;
        tellOnce(session, what + " has taken more than 2 s: its disk does not answer");
    });
}
