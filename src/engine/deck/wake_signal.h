#pragma once

#include <semaphore.h>

// Wakes one sleeping thread. post() never blocks, locks or allocates, so the audio callback
// may call it.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Any thread, the audio callback included.
    void post() noexcept;
    // The one waiting thread only: returns once a post has come since the last return; posts
    // that came meanwhile count as one.
    void wait() noexcept;

private:
    sem_t semaphore;
};
