#pragma once

#include <sys/types.h>

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ErrorSink;

// Looks at paths (stat) and lists music folders on threads of its own, so that a disk that
// does not answer (a dead network mount) holds one of those threads, never the window. The
// answer comes back on the UI thread; a newer request supersedes one still under way, whose
// answer is dropped when it comes. A look still unanswered after 2 s is reported once. Each
// thread counts with the process's StrandedThreads until it ends: a path on a disk that holds
// too many already is refused, not given another.
class PathLookup {
public:
    struct Request {
        std::string path;    // looked at (stat, links followed) unless empty
        std::string folder;  // unless empty, listed when `path` is a folder or empty
    };
    struct Finding {
        int lookError = 0;  // errno of the look at `path`; 0 when it answered or none was asked
        mode_t mode = 0;    // what `path` is
        std::vector<std::string> names;  // the folder's MP3 files, in the order it gave them
        std::string listError;           // why the folder could not be read; "" when it could
    };
    using Answer = std::function<void(Finding&&)>;

    explicit PathLookup(ErrorSink& errors);
    ~PathLookup();  // never waits for a lookup thread; their answers are dropped
    PathLookup(const PathLookup&) = delete;
    PathLookup& operator=(const PathLookup&) = delete;

    // UI thread only. `answer` runs on the UI thread: before this returns when the disk
    // answers within a few tens of ms, or a quarter of a second while a big folder's listing
    // goes on (a local folder does), else from the event loop once it has. Gives its serial,
    // by which awaits() tells it; 0 when it was refused at once (and reported).
    std::uint64_t request(Request request, Answer answer);
    // UI thread only: whether the request of that serial is still to be answered, neither
    // answered nor superseded.
    bool awaits(std::uint64_t serial) const;
    // UI thread only: a choice made another way (a file played) drops the answer awaited.
    void supersede();

private:
    struct Job;
    // The answer itself is posted by the lookup thread once it has one.
    void watchForSlowAnswer(const std::shared_ptr<Job>& job);
    void deliver(const std::shared_ptr<Job>& job);
    void reportIfSlow(const std::shared_ptr<Job>& job);
    // Forgets the jobs that have ended.
    void pruneRunning();

    ErrorSink& errors;
    QObject relay;  // answers and the slow report are posted to it, on the UI thread
    std::uint64_t lastSerial = 0;
    std::shared_ptr<Job> awaited;  // the newest request, until answered or superseded
    Answer awaitedAnswer;
    std::vector<std::shared_ptr<Job>> running;  // lookup threads not yet ended, oldest first
};
