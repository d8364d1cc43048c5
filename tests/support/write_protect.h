#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// Makes a file refuse writes, or a directory refuse new entries, for a scope - also for root,
// through the immutable flag, which only root may set.
class WriteProtect {
public:
    explicit WriteProtect(std::string path) : path(std::move(path)) {
        if (::geteuid() == 0) {
            on = setImmutable(true);
        } else if (struct stat st; ::stat(this->path.c_str(), &st) == 0) {
            mode = st.st_mode & 07777;
            on = ::chmod(this->path.c_str(), mode & ~0222) == 0;
        }
    }
    ~WriteProtect() {
        if (!on) return;
        if (::geteuid() == 0)
            setImmutable(false);
        else
            ::chmod(path.c_str(), mode);
    }
    WriteProtect(const WriteProtect&) = delete;
    WriteProtect& operator=(const WriteProtect&) = delete;

    // False where the file system has no such flag (the caller then skips).
    bool active() const { return on; }

private:
    bool setImmutable(bool immutable) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }

    std::string path;
    mode_t mode = 0;
    bool on = false;
};
