#include "components/threaded_mixer.h"

#include <QObject>
#include <cmath>
#include <utility>

#include "components/mixer_events.h"
#include "components/mixer_reports.h"

using MixerReport = MixerReports::MixerReport;
using LineReport = MixerReports::LineReport;

ThreadedMixer::ThreadedMixer(std::unique_ptr<Mixer> backend, std::chrono::milliseconds startWait)
    : backend(std::move(backend)), startWait(startWait), home(std::make_unique<QObject>()) {
    worker = std::thread([this] { run(); });
}

ThreadedMixer::~ThreadedMixer() {
    {
        std::lock_guard lock(mutex);
        shared.stopping = true;
    }
    wake.notify_one();
    worker.join();
}

void ThreadedMixer::run() {
    for (;;) {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] {
            return shared.stopping || shared.enumerationWanted || !shared.levelsToSet.empty() ||
                   !shared.levelsToRead.empty();
        });
        if (shared.stopping) return;
        if (shared.enumerationWanted) {
            shared.enumerationWanted = false;
            lock.unlock();
            enumerate();
        } else if (!shared.levelsToSet.empty()) {
            const auto [deviceNumber, percent] = *shared.levelsToSet.begin();
            shared.levelsToSet.erase(shared.levelsToSet.begin());
            lock.unlock();
            setLevel(deviceNumber, percent);
        } else {
            const int32_t deviceNumber = *shared.levelsToRead.begin();
            shared.levelsToRead.erase(shared.levelsToRead.begin());
            lock.unlock();
            readLevel(deviceNumber);
        }
    }
}

// Worker only.
void ThreadedMixer::enumerate() {
    MixerReports recorder;  // on the worker; raised on the caller's thread
    backend->setEventHandler(&recorder);
    if (!backend->mixerReady()) backend->prepareMixer();
    backend->enumerationStep1();
    backend->enumerationStep2();
    backend->setEventHandler(nullptr);
    // The lines the window drives are read now, so that it finds their levels at once.
    std::map<int32_t, int32_t> levels;
    for (const LineReport& line : recorder.lines) {
        int32_t level = 0;
        if (!line.known.empty() && backend->getLineLevel(line.number, level))
            levels[line.number] = level;
    }
    const bool ready = backend->mixerReady();
    {
        std::lock_guard lock(mutex);
        shared.mixers = std::move(recorder.mixers);
        shared.lines = std::move(recorder.lines);
        shared.levels = std::move(levels);
        shared.ready = ready;
        shared.enumerated = true;
    }
    enumeratedSignal.notify_all();
    // `home` outlives the worker; a call posted to it is dropped with it.
    QMetaObject::invokeMethod(
        home.get(), [this] { raiseOwedReports(); }, Qt::QueuedConnection);
}

// Worker only.
void ThreadedMixer::setLevel(int32_t deviceNumber, float percent) {
    const bool taken = backend->setLineLevel(deviceNumber, percent);
    int32_t level = 0;
    const bool read = taken && backend->getLineLevel(deviceNumber, level);
    std::lock_guard lock(mutex);
    if (taken) {
        shared.refusing.erase(deviceNumber);
    } else {
        shared.refusing.insert(deviceNumber);
    }
    if (read) {
        shared.levels[deviceNumber] = level;
        shared.levelsToRead.erase(deviceNumber);
    }
}

// Worker only.
void ThreadedMixer::readLevel(int32_t deviceNumber) {
    int32_t level = 0;
    if (!backend->getLineLevel(deviceNumber, level)) return;
    std::lock_guard lock(mutex);
    shared.levels[deviceNumber] = level;
}

bool ThreadedMixer::knownLine(int32_t deviceNumber) const {
    for (const LineReport& line : shared.lines)
        if (line.number == deviceNumber) return true;
    return false;
}

bool ThreadedMixer::mixerReady() {
    std::lock_guard lock(mutex);
    return shared.enumerated && shared.ready;
}

void ThreadedMixer::prepareMixer() {
    std::lock_guard lock(mutex);
    // The first enumeration is under way from the start; one that found no mixer is tried again.
    if (!shared.enumerated || shared.ready) return;
    shared.enumerationWanted = true;
    wake.notify_one();
}

bool ThreadedMixer::enumeratedInTime() {
    std::unique_lock lock(mutex);
    if (startDeadline == std::chrono::steady_clock::time_point{})
        startDeadline = std::chrono::steady_clock::now() + startWait;
    return enumeratedSignal.wait_until(lock, startDeadline, [this] { return shared.enumerated; });
}

void ThreadedMixer::enumerationStep1() {
    if (enumeratedInTime()) {
        raiseMixers();
    } else {
        mixersOwed = true;
    }
}

void ThreadedMixer::enumerationStep2() {
    if (enumeratedInTime()) {
        raiseLines();
    } else {
        linesOwed = true;
    }
}

// The handler may call back into the mixer: reports are raised from copies, unlocked.
template <typename Report>
std::vector<Report> ThreadedMixer::copied(const std::vector<Report>& reports) {
    std::lock_guard lock(mutex);
    return reports;
}

void ThreadedMixer::raiseMixers() {
    for (const MixerReport& m : copied(shared.mixers)) {
        if (!events) return;
        events->ReturnMixersInTheSystem(m.name, m.manufacturerId, m.productId, m.driverVersion);
    }
}

void ThreadedMixer::raiseLines() {
    for (const LineReport& l : copied(shared.lines)) {
        if (!events) return;
        events->ReturnDevicesAvailable(l.name, l.shortName, l.known, l.id, l.type, l.number, l.max);
    }
}

void ThreadedMixer::raiseOwedReports() {
    if (std::exchange(mixersOwed, false)) raiseMixers();
    if (std::exchange(linesOwed, false)) raiseLines();
}

bool ThreadedMixer::setLineLevel(int32_t deviceNumber, float percent) {
    if (!std::isfinite(percent)) return false;
    bool refused = false;
    {
        std::lock_guard lock(mutex);
        if (!knownLine(deviceNumber)) return false;
        shared.levelsToSet[deviceNumber] = percent;
        refused = shared.refusing.count(deviceNumber) > 0;
    }
    wake.notify_one();
    return !refused;
}

bool ThreadedMixer::getLineLevel(int32_t deviceNumber, int32_t& level) {
    bool known = false;
    {
        std::lock_guard lock(mutex);
        if (!knownLine(deviceNumber)) return false;
        // Someone else may have moved it since: the next read is fresher.
        shared.levelsToRead.insert(deviceNumber);
        const auto last = shared.levels.find(deviceNumber);
        known = last != shared.levels.end();
        if (known) level = last->second;
    }
    wake.notify_one();
    return known;
}
