#include "app/settings_writer.h"

#include <pthread.h>

#include <QThread>
#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "components/error_sink.h"

struct SettingsWriter::Shared {
    struct Job {
        std::string key;
        Save save;
        std::string failure;
    };
    enum class Phase { Waiting, Saving };

    std::mutex mutex;
    std::condition_variable work;  // a job queued, or the writer gone
    std::condition_variable idle;  // a save done
    std::deque<Job> queue;
    Phase phase = Phase::Waiting;
    std::string savingKey;             // while Saving
    std::vector<std::string> reports;  // failure lines not yet handed to the UI thread
    std::string lastCause;             // of the last failure reported; "" since a success
    SettingsWriter* owner;             // nullptr once the writer is gone
    std::thread thread;
};

SettingsWriter::SettingsWriter(ErrorSink& errors)
    : errors(errors), shared(std::make_shared<Shared>()) {
    shared->owner = this;
    shared->thread = std::thread(run, shared);
}

SettingsWriter::~SettingsWriter() {
    flush(kEndBound);
    std::unique_lock lock(shared->mutex);
    shared->owner = nullptr;
    shared->queue.clear();
    const bool held = shared->phase == Shared::Phase::Saving;
    shared->work.notify_one();
    lock.unlock();
    // Held by a disk that does not answer: it ends once the disk does, touching only `shared`.
    if (held)
        shared->thread.detach();
    else
        shared->thread.join();
}

void SettingsWriter::write(const std::string& key, Save save, const std::string& failure) {
    // UI thread only.
    assert(QThread::currentThread() == relay.thread());
    std::lock_guard lock(shared->mutex);
    auto queued = std::find_if(shared->queue.begin(), shared->queue.end(),
                               [&](const Shared::Job& job) { return job.key == key; });
    if (queued != shared->queue.end()) {
        queued->save = std::move(save);
        queued->failure = failure;
        return;
    }
    shared->queue.push_back({key, std::move(save), failure});
    shared->work.notify_one();
}

std::vector<std::string> SettingsWriter::flush(std::chrono::milliseconds bound) {
    // UI thread only.
    assert(QThread::currentThread() == relay.thread());
    std::vector<std::string> undone;
    {
        std::unique_lock lock(shared->mutex);
        const bool done = shared->idle.wait_for(lock, bound, [&] {
            return shared->queue.empty() && shared->phase == Shared::Phase::Waiting;
        });
        if (!done) {
            if (shared->phase == Shared::Phase::Saving) undone.push_back(shared->savingKey);
            for (const Shared::Job& job : shared->queue) undone.push_back(job.key);
        }
    }
    deliverReports();
    return undone;
}

void SettingsWriter::deliverReports() {
    // UI thread only.
    std::vector<std::string> lines;
    {
        std::lock_guard lock(shared->mutex);
        lines.swap(shared->reports);
    }
    for (const std::string& line : lines) errors.report(line);
}

void SettingsWriter::run(const std::shared_ptr<Shared>& shared) {
    // Writer thread only.
    ::pthread_setname_np(::pthread_self(), "settings writer");
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->work.wait(lock, [&] { return !shared->queue.empty() || !shared->owner; });
        if (shared->queue.empty()) return;  // the writer is gone
        Shared::Job job = std::move(shared->queue.front());
        shared->queue.pop_front();
        assert(shared->phase == Shared::Phase::Waiting);
        shared->phase = Shared::Phase::Saving;
        shared->savingKey = job.key;
        lock.unlock();
        std::string cause;
        const bool saved = job.save(cause);
        lock.lock();
        assert(shared->phase == Shared::Phase::Saving);
        shared->phase = Shared::Phase::Waiting;
        if (saved) {
            shared->lastCause.clear();
        } else if (cause != shared->lastCause) {
            shared->lastCause = cause;
            shared->reports.push_back(job.failure + cause);
            if (SettingsWriter* owner = shared->owner)
                QMetaObject::invokeMethod(
                    &owner->relay, [owner] { owner->deliverReports(); }, Qt::QueuedConnection);
        }
        shared->idle.notify_all();
    }
}
