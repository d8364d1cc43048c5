#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/loudness/levelling_gain.h"
#include "engine/loudness/loudness_measurer.h"

// What both decks know of their files' loudness: it reads a file's ReplayGain tags and, where
// they do not give the mode's gain, has the file measured; results wait in a mailbox that the
// decks look into on their tick.
//
// Threads: the UI thread makes and destroys it. enrol(), request(), gain(), guess() and
// results() may be called from any thread and take only the service's lock, which no thread
// holds while it reads a file, so a caller never waits on a disk. Tags are read and measures
// made on the measurer's threads, one lane per deck; each posts into the mailbox under the lock
// and then bumps the result count. The destructor waits for reads under way 2 s at most; a
// thread stranded by a hung disk ends by itself later and touches nothing of the service's
// owner.
class LoudnessService {
public:
    explicit LoudnessService(LoudnessMeasurer::Options options = {});
    ~LoudnessService();
    LoudnessService(const LoudnessService&) = delete;
    LoudnessService& operator=(const LoudnessService&) = delete;

    // Any thread: a number of its own for a deck that asks, for request().
    int enrol();

    // Any thread; returns at once. Has `path`'s tags read and, where they do not suffice for
    // `mode`, its loudness measured: urgent for the file `deck` is about to play, else for the
    // one after it. A deck's newer request replaces its older one of the same kind.
    void request(const std::string& path, LevellingMode mode, bool urgent, int deck);

    // Any thread, no I/O. The linear gain `path` plays at in `mode`: absent while it is not
    // known yet. A file whose measure failed plays unlevelled, at its guess().
    std::optional<double> gain(const std::string& path, LevellingMode mode, double preampDb) const;
    // Any thread, no I/O. What `path` plays at while its gain is not known: the pre-amp, no
    // higher than its tags' peak allows, nor above its own level without a peak.
    double guess(const std::string& path, LevellingMode mode, double preampDb) const;

    // Goes up with every result posted: a deck looks again only when it moved.
    std::uint64_t results() const;

private:
    struct Shared;

    std::shared_ptr<Shared> shared;
};
