#include "components/stranded_threads.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include "components/absolute_path.h"

namespace {

struct Mount {
    std::string point;
    std::string device;
};

// The kernel writes a space, a tab, a newline and a backslash in a mount point as \ooo.
std::string unescaped(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// mountinfo: "id parent major:minor root mount-point options ... - type source options".
std::vector<Mount> parseMounts(const std::string& text) {
    std::vector<Mount> mounts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (fields >> id >> parent >> device >> root >> point)
            mounts.push_back({unescaped(point), device});
    }
    return mounts;
}

bool startsWithin(const std::string& path, const std::string& point) {
    if (point == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, point.size(), point) == 0 &&
           (path.size() == point.size() || path[point.size()] == '/');
}

// The path as the mount table names places: absolute, without "." and "..", no trailing "/".
std::string plainPath(const std::string& path) {
    std::string plain = std::filesystem::path(absoluteOrAsGiven(path)).lexically_normal().string();
    while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
    return plain;
}

// /proc/self/mountinfo, read again only when the kernel says the mounts changed: it marks an
// open handle of it readable-with-priority on every mount and unmount.
class ProcMounts {
public:
    ProcMounts() : fd(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {}
    ~ProcMounts() {
        if (fd >= 0) ::close(fd);
    }
    ProcMounts(const ProcMounts&) = delete;
    ProcMounts& operator=(const ProcMounts&) = delete;

    const std::vector<Mount>& mounts() {
        if (fd < 0) return table;
        pollfd watch{fd, POLLPRI, 0};
        const bool changed = ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLPRI | POLLERR));
        if (read && !changed) return table;
        std::string text;
        char buffer[8192];
        ssize_t got = 0;
        if (::lseek(fd, 0, SEEK_SET) == 0)
            while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
                text.append(buffer, static_cast<std::size_t>(got));
        table = parseMounts(text);
        read = true;
        return table;
    }

private:
    int fd;
    bool read = false;
    std::vector<Mount> table;
};

}  // namespace

// Everything under `lock`. Holds are kept by serial, so the first of a disk is its oldest.
struct StrandedThreads::Hold::State {
    struct Entry {
        std::string device;
        std::string path;
        int threads = 0;
    };

    explicit State(std::function<std::string()> mountTable) : mountTable(std::move(mountTable)) {}

    Disk diskOf(const std::string& path) {
        const std::vector<Mount> given =
            mountTable ? parseMounts(mountTable()) : std::vector<Mount>{};
        const std::vector<Mount>& mounts = mountTable ? given : proc->mounts();
        const std::string plain = plainPath(path);
        const Mount* best = nullptr;
        // A later mount on the same point lies over the earlier one.
        for (const Mount& mount : mounts)
            if (startsWithin(plain, mount.point) &&
                (!best || mount.point.size() >= best->point.size()))
                best = &mount;
        return best ? Disk{best->point, best->device} : Disk{};
    }
    int heldOn(const std::string& device) const {
        int count = 0;
        for (const auto& [serial, entry] : entries)
            if (entry.device == device) count += entry.threads;
        return count;
    }
    int heldInAll() const {
        int count = 0;
        for (const auto& [serial, entry] : entries) count += entry.threads;
        return count;
    }
    bool admits(const Disk& disk, std::string& refusal) const {
        const Entry* first = nullptr;
        if (heldOn(disk.device) >= kPerDisk) {
            for (const auto& [serial, entry] : entries)
                if (entry.device == disk.device) {
                    first = &entry;
                    break;
                }
        } else if (heldInAll() >= kInAll) {
            first = &entries.begin()->second;
        }
        if (!first) return true;
        refusal = "the player still waits on " + first->path + ", whose disk does not answer";
        return false;
    }
    std::uint64_t count(const Disk& disk, const std::string& path, int threads) {
        entries.emplace(++lastSerial, Entry{disk.device, path, threads});
        return lastSerial;
    }

    std::mutex lock;
    const std::function<std::string()> mountTable;
    std::unique_ptr<ProcMounts> proc = mountTable ? nullptr : std::make_unique<ProcMounts>();
    std::map<std::uint64_t, Entry> entries;
    std::uint64_t lastSerial = 0;
};

StrandedThreads::Hold::Hold(Hold&& other) noexcept
    : state(std::move(other.state)), serial(std::exchange(other.serial, 0)) {}

StrandedThreads::Hold& StrandedThreads::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        release();
        state = std::move(other.state);
        serial = std::exchange(other.serial, 0);
    }
    return *this;
}

void StrandedThreads::Hold::release() {
    if (!state) return;
    {
        std::lock_guard guard(state->lock);
        state->entries.erase(serial);
    }
    state.reset();
    serial = 0;
}

StrandedThreads& StrandedThreads::process() {
    static auto* const keeper = new StrandedThreads(nullptr);
    return *keeper;
}

StrandedThreads::StrandedThreads(std::function<std::string()> mountTable)
    : state(std::make_shared<Hold::State>(std::move(mountTable))) {}

StrandedThreads::~StrandedThreads() = default;

StrandedThreads::Hold StrandedThreads::admit(const std::string& path, std::string& refusal,
                                             int threads) {
    std::lock_guard guard(state->lock);
    const Disk disk = state->diskOf(path);
    if (!state->admits(disk, refusal)) return {};
    return Hold(state, state->count(disk, path, threads));
}

bool StrandedThreads::admits(const std::string& path, std::string& refusal) {
    std::lock_guard guard(state->lock);
    return state->admits(state->diskOf(path), refusal);
}

StrandedThreads::Hold StrandedThreads::keep(const std::string& path, int threads) {
    std::lock_guard guard(state->lock);
    return Hold(state, state->count(state->diskOf(path), path, threads));
}

int StrandedThreads::held(const std::string& path) {
    std::lock_guard guard(state->lock);
    return state->heldOn(state->diskOf(path).device);
}

int StrandedThreads::heldInAll() {
    std::lock_guard guard(state->lock);
    return state->heldInAll();
}

StrandedThreads::Disk StrandedThreads::diskOf(const std::string& path) {
    std::lock_guard guard(state->lock);
    return state->diskOf(path);
}
