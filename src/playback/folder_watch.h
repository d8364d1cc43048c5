#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playback/playlist_merge.h"

class ErrorSink;

// Follows one folder's MP3 files from a thread of its own: it adds the inotify watch there (the
// call looks the folder up, which on a disk that does not answer would hold the caller), lists
// the folder soon after the start and again whenever its changes have settled (RelistSchedule),
// one listing at a time, and hands each listing, sorted as the playlist, to the UI thread.
// A disk that does not answer holds that thread, counted with StrandedThreads while it works
// there, never the window; a watch says at most one line, however often it waits or fails.
class FolderWatch {
public:
    struct Listing {
        std::vector<std::string> names;     // in the playlist's order
        std::vector<FolderRename> renames;  // seen since the last listing handed over, in order
    };
    using Answer = std::function<void(Listing&&)>;

    // `answer` runs on the UI thread with each listing of the folder watched then.
    FolderWatch(ErrorSink& errors, Answer answer);
    ~FolderWatch();  // never waits for the watch's thread; what it finds later is dropped
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // UI thread only. Watches `dir` (ending in '/') in place of any folder watched before.
    void watch(const std::string& dir);
    // UI thread only. Watches nothing; a listing on its way is dropped.
    void stop();
    // UI thread only. The folder watched, "" for none.
    std::string folder() const;
    // UI thread only. Listings of that folder handed over so far.
    int listings() const;

private:
    struct Session;
    // UI thread only: the watch's thread posts these to `relay`.
    void take(const std::shared_ptr<Session>& session, Listing&& listing);
    void tellOnce(const std::shared_ptr<Session>& session, const std::string& line);
    void watchForSlowCall(const std::shared_ptr<Session>& session, std::uint64_t call,
                          const std::string& what);

    ErrorSink& errors;
    Answer answer;
    QObject relay;
    std::shared_ptr<Session> current;
};
