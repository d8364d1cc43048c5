#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "components/mixer.h"
#include "components/mixer_reports.h"

class QObject;

// Another mixer driven from a thread of its own, so that no caller waits for the mixer's
// sound server: ALSA's pulse plugin waits on a server that hangs for as long as it hangs.
// Levels are queued (the newest per line wins: a drag sends many) and land in the order of
// their lines; getLineLevel reads the level last read from the mixer. A line whose last level
// was refused answers false until one lands, so the caller can say so once.
// The enumeration runs on the mixer's thread from construction. The first enumeration call
// waits for it at most `startWait`; a mixer that answers later raises the owed reports on the
// thread that made this object, from its event loop. Every call but the destructor is for
// that thread only.
//
// Threads: `worker` alone touches `backend` (after construction). Everything in `shared` is
// guarded by `mutex`; the caller's thread writes the requests, the worker the results.
class ThreadedMixer : public Mixer {
public:
    static constexpr std::chrono::milliseconds kStartWait{250};

    explicit ThreadedMixer(std::unique_ptr<Mixer> backend,
                           std::chrono::milliseconds startWait = kStartWait);
    // Levels not yet sent are dropped; a call in progress is waited for.
    ~ThreadedMixer() override;
    ThreadedMixer(const ThreadedMixer&) = delete;
    ThreadedMixer& operator=(const ThreadedMixer&) = delete;

    void setEventHandler(MixerEvents* handler) override { events = handler; }
    bool mixerReady() override;
    void prepareMixer() override;
    void enumerationStep1() override;
    void enumerationStep2() override;
    bool setLineLevel(int32_t deviceNumber, float percent) override;
    bool getLineLevel(int32_t deviceNumber, int32_t& level) override;

private:
    void run();
    void enumerate();
    void setLevel(int32_t deviceNumber, float percent);
    void readLevel(int32_t deviceNumber);
    // False once the first enumeration has had its time; the reports are then owed.
    bool enumeratedInTime();
    template <typename Report>
    std::vector<Report> copied(const std::vector<Report>& reports);  // taken under the lock
    void raiseMixers();
    void raiseLines();
    void raiseOwedReports();
    bool knownLine(int32_t deviceNumber) const;  // under the lock

    std::unique_ptr<Mixer> backend;
    std::chrono::milliseconds startWait;
    MixerEvents* events = nullptr;
    std::unique_ptr<QObject> home;  // lives on the caller's thread: owed reports go there
    std::chrono::steady_clock::time_point startDeadline;
    bool mixersOwed = false, linesOwed = false;  // reports the enumeration calls could not raise

    mutable std::mutex mutex;
    std::condition_variable wake;
    struct Shared {
        // Requests, from the caller's thread.
        bool enumerationWanted = true;
        std::map<int32_t, float> levelsToSet;
        std::set<int32_t> levelsToRead;
        bool stopping = false;
        // Results, from the worker.
        bool enumerated = false;  // at least once
        bool ready = false;       // the backend's mixerReady() after the last enumeration
        std::vector<MixerReports::MixerReport> mixers;
        std::vector<MixerReports::LineReport> lines;
        std::map<int32_t, int32_t> levels;  // last read per line; absent where none could be
        std::set<int32_t> refusing;         // lines whose last level was refused
    } shared;
    std::condition_variable enumeratedSignal;
    std::thread worker;
};
