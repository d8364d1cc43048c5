#pragma once

#include <sys/types.h>

#include <string>

// A FUSE file system (hanging_fs.py) showing a directory's files as a stalled network share
// does: reading a file whose name holds "hang", listing a directory whose name holds "hang",
// and looking up a name that holds "lookuphang" block until release(); so does reading on
// from a file whose name holds "stall" once 32 KiB of it were read (a share that stops
// mid-track); and, from hold() on, reading a file whose path holds "held" (a disk that stops
// answering after the start). Needs /dev/fuse and the right to mount; available() says whether it
// came up (the caller then skips).
class HangingMount {
public:
    // Shows `source` at `dir`/mnt; `dir` holds the release flag beside it.
    HangingMount(const std::string& source, const std::string& dir);
    ~HangingMount();  // releases every read, unmounts, ends the file system
    HangingMount(const HangingMount&) = delete;
    HangingMount& operator=(const HangingMount&) = delete;

    bool available() const { return mounted; }
    std::string path(const std::string& name) const { return mountPoint + "/" + name; }
    void release();
    void hold();
    // Whether a read, lookup or listing of `name` (a path within the mount) is held now: it
    // began, and nothing was released since.
    bool holds(const std::string& name) const;

private:
    std::string mountPoint;
    std::string releaseFlag;
    std::string holdFlag;
    std::string heldLog;  // the paths held, a line each, as their holds began
    pid_t pid = -1;
    bool mounted = false;
};
