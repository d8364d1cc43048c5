#include "engine/deck/wake_signal.h"

#include <cerrno>

WakeSignal::WakeSignal() {
    sem_init(&semaphore, 0, 0);
}

WakeSignal::~WakeSignal() {
    sem_destroy(&semaphore);
}

void WakeSignal::post() noexcept {
    sem_post(&semaphore);  // async-signal-safe: a futex wake at most
}

void WakeSignal::wait() noexcept {
    while (sem_wait(&semaphore) != 0 && errno == EINTR) {
    }
    while (sem_trywait(&semaphore) == 0) {
    }
}
