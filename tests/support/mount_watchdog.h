#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/hanging_mount.h"

// Lets a hanging mount answer when told, or after `patience` whatever happens, and tells
// whether it had to: a window that waited on the disk could never tell it, and the test fails
// on fired() instead of hanging. While it has not fired, whatever the test saw meanwhile
// happened while the disk still held.
class MountWatchdog {
public:
    explicit MountWatchdog(HangingMount& mount,
                           std::chrono::seconds patience = std::chrono::seconds(20))
        : thread([this, &mount, patience] {
              std::unique_lock lock(mutex);
              if (!told.wait_for(lock, patience, [this] { return released; })) fell = true;
              mount.release();
          }) {}
    ~MountWatchdog() { releaseNow(); }
    MountWatchdog(const MountWatchdog&) = delete;
    MountWatchdog& operator=(const MountWatchdog&) = delete;

    bool fired() {
        std::lock_guard lock(mutex);
        return fell;
    }
    // The disk answers from now on.
    void releaseNow() {
        {
            std::lock_guard lock(mutex);
            released = true;
        }
        told.notify_all();
        if (thread.joinable()) thread.join();
    }

private:
    std::mutex mutex;
    std::condition_variable told;
    bool released = false;
    bool fell = false;
    std::thread thread;  // last: it uses the members above
};
