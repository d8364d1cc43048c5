#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Counts the threads that disks hold (a thread left waiting on a dead network mount, or about
// to work where it may be left so), and bounds them per disk: once a disk holds kPerDisk, no
// part gives it more work; its files are refused with one wording, naming what the player
// still waits on there. A disk is a mount: the longest mount point that starts the path, found
// in /proc/self/mountinfo, never by a look at the disk itself (a look at a hung mount hangs).
// Mounts of the same device (bind mounts) are one disk. All threads, past a total of kInAll,
// are a second guard, so that many dead disks still cannot grow the threads without limit.
//
// Any thread may call any member: the members take only the keeper's own lock, for no more
// than a read of /proc. A symbolic link from one disk into another is counted where it lies,
// not where it leads: following it would ask the disk it leads to.
class StrandedThreads {
public:
    static constexpr int kPerDisk = 4;
    static constexpr int kInAll = 16;

    // Threads counted on a disk for as long as it lives; empty when refused. Movable, and
    // released from whichever thread lets it go, after the keeper itself if need be.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { release(); }
        explicit operator bool() const { return state != nullptr; }
        void release();

    private:
        friend class StrandedThreads;
        struct State;
        Hold(std::shared_ptr<State> state, std::uint64_t serial)
            : state(std::move(state)), serial(serial) {}
        std::shared_ptr<State> state;
        std::uint64_t serial = 0;
    };

    struct Disk {
        std::string mountPoint;  // "" when the path lies outside every mount known
        std::string device;      // major:minor, shared by the mounts of one file system
    };

    // The one keeper of the process, on the mounts of /proc/self/mountinfo. Never destroyed:
    // a thread stranded at the end still lets its hold go.
    static StrandedThreads& process();
    // On the mount table `mountTable` gives (mountinfo's text), asked anew each time.
    explicit StrandedThreads(std::function<std::string()> mountTable);
    ~StrandedThreads();
    StrandedThreads(const StrandedThreads&) = delete;
    StrandedThreads& operator=(const StrandedThreads&) = delete;

    // `threads` more on the disk of `path`, counted until the hold goes; an empty hold and
    // `refusal` set (the cause, for "Cannot play <file>: ...") when that disk holds kPerDisk
    // already, or all disks kInAll.
    Hold admit(const std::string& path, std::string& refusal, int threads = 1);
    // Whether admit would take one more, without counting it.
    bool admits(const std::string& path, std::string& refusal);
    // Counted, never refused: threads left waiting on work their disk had been given already.
    Hold keep(const std::string& path, int threads = 1);

    int held(const std::string& path);
    int heldInAll();
    Disk diskOf(const std::string& path);

private:
    std::shared_ptr<Hold::State> state;
};
