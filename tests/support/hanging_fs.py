#!/usr/bin/python3
"""hanging_fs.py SOURCE_DIR MOUNTPOINT: shows SOURCE_DIR's files read-only at MOUNTPOINT, as a
stalled network share does: reading a file named "*hang*" blocks until the file
MOUNTPOINT/../release exists; every other file reads normally. Until then, listing a directory
named "*hang*" blocks too, and so does looking up (stat, open) any name holding "lookuphang"."""
import errno
import os
import sys
import threading
import time

try:  # Debian names the module after the package
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class HangingFs(Operations):
    def __init__(self, source, release):
        self.source = source
        self.release_file = release

    def _path(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def _wait_for_release(self):
        while not os.path.exists(self.release_file):
            time.sleep(0.05)

    def _hold_lookup(self, path):
        if "lookuphang" in os.path.basename(path):
            self._wait_for_release()

    def _hold_listing(self, path):
        if "hang" in os.path.basename(path):
            self._wait_for_release()

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
        if "hang" in os.path.basename(path):
            while not os.path.exists(self.release_file):
                time.sleep(0.05)
        with open(self._path(path), "rb") as f:
            f.seek(offset)
            return f.read(size)


if __name__ == "__main__":
    source, mountpoint = sys.argv[1], sys.argv[2]
    release = os.path.join(os.path.dirname(os.path.abspath(mountpoint)), "release")
    FUSE(HangingFs(source, release), mountpoint, foreground=True, nothreads=False,
         ro=True, direct_io=True)
