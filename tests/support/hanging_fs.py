#!/usr/bin/python3
"""hanging_fs.py SOURCE_DIR MOUNTPOINT: shows SOURCE_DIR's files read-only at MOUNTPOINT, as a
stalled network share does: reading a file named "*hang*" blocks until the file
MOUNTPOINT/../release exists; a file named "*stall*" gives STALL_AFTER bytes in all, then
blocks the same way (a share that stops in the middle of a track). Until then, listing a
directory named "*hang*" blocks too, and so does looking up (stat, open) any name holding
"lookuphang". Reading a file whose path holds "held" blocks while MOUNTPOINT/../hold exists
and the release does not (a disk that stops answering after the start). Every other file
reads normally. Each path held is written, a line each, to MOUNTPOINT/../held as its hold
begins, so that a test can tell a call that returned while the disk held it from one that
waited."""
import errno
import os
import sys
import threading
import time

try:  # Debian names the module after the package
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


STALL_AFTER = 32768


class StallCounter:
    """Bytes read so far of each "*stall*" file, wherever in the file: a decoder's first look
    at the file's end counts, and its reading on stops once STALL_AFTER bytes are had."""

    def __init__(self):
        self.lock = threading.Lock()
        self.read = {}

    def allowed(self, path, size):
        """How many of `size` bytes a read may return now; None once the file has stalled."""
        if "stall" not in os.path.basename(path):
            return size
        with self.lock:
            had = self.read.get(path, 0)
            if had >= STALL_AFTER:
                return None
            size = min(size, STALL_AFTER - had)
            self.read[path] = had + size
            return size


class HangingFs(Operations):
    def __init__(self, source, release, hold, held):
        self.source = source
        self.release_file = release
        self.hold_file = hold
        self.held_file = held
        self.held_lock = threading.Lock()
        self.stalls = StallCounter()

    def _path(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def _wait_for_release(self, path):
        if os.path.exists(self.release_file):
            return
        with self.held_lock, open(self.held_file, "a") as held:
            held.write(path + "\n")
        while not os.path.exists(self.release_file):
            time.sleep(0.05)

    def _hold_while_held(self, path):
        while "held" in path and os.path.exists(self.hold_file) and \
                not os.path.exists(self.release_file):
            time.sleep(0.05)

    def _hold_lookup(self, path):
        if "lookuphang" in os.path.basename(path):
            self._wait_for_release(path)

    def _hold_listing(self, path):
        if "hang" in os.path.basename(path):
            self._wait_for_release(path)

    def getattr(self, path, fh=None):
        self._hold_lookup(path)
        try:
            st = os.lstat(self._path(path))
        except OSError as e:
            raise FuseOSError(e.errno)
        return {key: getattr(st, key) for key in (
            "st_mode", "st_nlink", "st_size", "st_uid", "st_gid",
            "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        self._hold_listing(path)
        return [".", ".."] + os.listdir(self._path(path))

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        return 0

    def read(self, path, size, offset, fh):
        self._hold_while_held(path)
        if "hang" in os.path.basename(path):
            self._wait_for_release(path)
        if not os.path.exists(self.release_file):
            allowed = self.stalls.allowed(path, size)
            if allowed is None:
                self._wait_for_release(path)
            else:
                size = allowed
        with open(self._path(path), "rb") as f:
            f.seek(offset)
            return f.read(size)


if __name__ == "__main__":
    source, mountpoint = sys.argv[1], sys.argv[2]
    beside = os.path.dirname(os.path.abspath(mountpoint))
    FUSE(HangingFs(source, os.path.join(beside, "release"), os.path.join(beside, "hold"),
                   os.path.join(beside, "held")),
         mountpoint, foreground=True, nothreads=False,
         ro=True, direct_io=True)
