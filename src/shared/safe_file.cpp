#include "shared/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace SafeFile {

namespace {

constexpr const char* kTemporaryInfix = ".tmp-";
constexpr size_t kRandomLength = 6;
constexpr int kMaxLinkHops = 40;

std::string because(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// Up to and including the last '/'; "" for a bare name, which lives in the current directory.
std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool isAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool writeAll(int fd, const char* data, size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

bool readFd(int fd, std::string& bytes) {
    bytes.clear();
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, size_t(n));
        offset += n;
    }
}

// A fresh file named `target`.tmp-XXXXXX, created with `mode` (the umask applies).
int createTemporary(const std::string& target, mode_t mode, std::string& name) {
    static constexpr char kAlphabet[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + kTemporaryInfix;
        for (size_t i = 0; i < kRandomLength; ++i) name += kAlphabet[pick(random)];
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Temporary files of ours left beside `target` itself, no link followed.
void removeStaleBeside(const std::string& target) {
    const std::string directory = directoryOf(target);
    const std::string name = target.substr(directory.size());
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name, name)) continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

void syncDirectory(const std::string& directory) {
    const int fd =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes `bytes` into the open temporary file with the old file's owner and mode, synced.
// errno tells why it failed; `ownerKept` is false when only the owner could not be kept.
bool fillTemporary(int fd, const std::string& bytes, const struct stat* old, bool& ownerKept) {
    ownerKept = true;
    if (old) {
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
            ownerKept = false;
            return false;
        }
        // After fchown, which may clear set-id bits, and past the umask.
        if (::fchmod(fd, old->st_mode & 07777) != 0) return false;
    }
    return writeAll(fd, bytes.data(), bytes.size(), 0) && ::fsync(fd) == 0;
}

}  // namespace

bool resolveLinks(const std::string& path, std::string& target, std::string& error) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                error = because("cannot look at " + current, errno);
                return false;
            }
            target = current;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = current;
            return true;
        }
        std::string link(size_t(st.st_size) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0 || size_t(n) >= link.size()) {
            error = because("cannot follow the link " + current, n < 0 ? errno : EAGAIN);
            return false;
        }
        link.resize(size_t(n));
        current = link.starts_with('/') ? link : directoryOf(current) + link;
    }
    error = because("cannot follow the link " + path, ELOOP);
    return false;
}

bool readAll(const std::string& path, std::string& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !readFd(fd, bytes)) {
        error = because("cannot read " + path, errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

bool replace(const std::string& path, const std::string& bytes, std::string& error, Links links) {
    std::string target = path;
    if (links == Links::Follow && !resolveLinks(path, target, error)) return false;
    removeStaleBeside(target);
    struct stat old;
    bool exists = ::lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        error = because("cannot look at " + target, errno);
        return false;
    }
    // Only with Links::Replace can a link be left here: the new file takes its place, as if
    // nothing were there.
    if (exists && S_ISLNK(old.st_mode)) exists = false;
    if (exists && !S_ISREG(old.st_mode)) {
        error = target + " is not a regular file";
        return false;
    }
    std::string temporary;
    const int fd = createTemporary(target, exists ? old.st_mode & 0777 : 0666, temporary);
    if (fd < 0) {
        // A directory closed to new files may still hold a file that can be written.
        if (exists) return overwriteInPlace(target, bytes, error);
        error = because("cannot create a file beside " + target, errno);
        return false;
    }
    bool ownerKept = true;
    bool written = fillTemporary(fd, bytes, exists ? &old : nullptr, ownerKept);
    int cause = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        cause = errno;
    }
    if (written && ::rename(temporary.c_str(), target.c_str()) == 0) {
        syncDirectory(directoryOf(target));
        return true;
    }
    if (written) cause = errno;
    ::unlink(temporary.c_str());
    // Another user's file that we may write keeps its owner only when written in place.
    if (!ownerKept) return overwriteInPlace(target, bytes, error);
    error = because("cannot write " + target, cause);
    return false;
}

bool overwriteInPlace(const std::string& path, const std::string& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    std::string old;
    if (fd < 0 || !readFd(fd, old)) {
        error = because("cannot write " + path, errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    auto fail = [&](int cause) {
        error = because("cannot write " + path, cause);
        ::close(fd);
        return false;
    };
    if (bytes.size() > old.size()) {
        // Reserve the room first, without changing the file, so that a full disk fails here
        // rather than half-way through the write.
        const int reserved = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(old.size()),
                                         off_t(bytes.size() - old.size()));
        if (reserved != 0 && errno != EOPNOTSUPP && errno != ENOSYS) return fail(errno);
    }
    size_t first = 0;
    while (first < old.size() && first < bytes.size() && old[first] == bytes[first]) ++first;
    if (!writeAll(fd, bytes.data() + first, bytes.size() - first, off_t(first)) ||
        (bytes.size() < old.size() && ::ftruncate(fd, off_t(bytes.size())) != 0)) {
        const int cause = errno;
        // Put back what was there; best effort, the cause is reported either way.
        const bool putBack = writeAll(fd, old.data() + first, old.size() - first, off_t(first)) &&
                             ::ftruncate(fd, off_t(old.size())) == 0;
        static_cast<void>(putBack);
        return fail(cause);
    }
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        error = because("cannot write " + path, errno);
        return false;
    }
    return true;
}

void removeStaleTemporaries(const std::string& path) {
    std::string target, ignored;
    if (resolveLinks(path, target, ignored)) removeStaleBeside(target);
}

bool isTemporaryName(const std::string& name, const std::string& targetName) {
    const std::string prefix = targetName + kTemporaryInfix;
    if (name.size() != prefix.size() + kRandomLength || !name.starts_with(prefix)) return false;
    for (size_t i = prefix.size(); i < name.size(); ++i)
        if (!isAsciiAlnum(name[i])) return false;
    return true;
}

}  // namespace SafeFile
