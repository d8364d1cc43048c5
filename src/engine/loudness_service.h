#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/levelling_gain.h"
#include "engine/loudness_measurer.h"

// What both decks know of their files' loudness: it reads a file's ReplayGain tags and, where
// they do not give the mode's gain, has the file measured; results wait in a mailbox that the
// decks look into on their tick.
//
// Threads: the UI thread makes and destroys it. request(), gain() and results() may be called
// from any thread and take only the service's lock, which no thread holds while it reads a
// file, so a caller never waits on a disk. Tags are read on the service's own thread, measures
// made on the measurer's; each posts into the mailbox under the lock and then bumps the result
// count. The destructor waits for a tag read under way 2 s at most; a thread stranded by a hung
// disk ends by itself later and touches nothing of the service's owner.
class LoudnessService {
public:
    explicit LoudnessService(LoudnessMeasurer::Options options = {});
    ~LoudnessService();
    LoudnessService(const LoudnessService&) = delete;
    LoudnessService& operator=(const LoudnessService&) = delete;

    // Any thread; returns at once. Has `path`'s tags read and, where they do not suffice for
    // `mode`, its loudness measured: urgent ones (a file about to play) first.
    void request(const std::string& path, LevellingMode mode, bool urgent);

    // Any thread, no I/O. The linear gain `path` plays at in `mode`: absent while it is not
    // known yet. A file whose measure failed plays unlevelled, at the pre-amp alone.
    std::optional<double> gain(const std::string& path, LevellingMode mode, double preampDb) const;

    // Goes up with every result posted: a deck looks again only when it moved.
    std::uint64_t results() const;

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared;
};
