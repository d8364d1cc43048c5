#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <string>

// How often a file has been opened since this began watching it (inotify).
class OpenCounter {
public:
    explicit OpenCounter(const std::string& path) : fd(inotify_init1(IN_NONBLOCK)) {
        inotify_add_watch(fd, path.c_str(), IN_OPEN);
    }
    ~OpenCounter() { ::close(fd); }
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    int take() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<inotify_event*>(at);
                opens += (event->mask & IN_OPEN) != 0;
                at += sizeof(inotify_event) + event->len;
            }
        return opens;
    }

private:
    int fd;
    int opens = 0;
};
