#include "components/stderr_filter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

// libmpg123 prints these with a plain fwrite, past its own quiet flag, for damaged frames
// that it then decodes as well as it can.
constexpr std::string_view kChatter[] = {
    "Truncating stereo boundary to sideband limit.",
};

void writeAll(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

// The stream is unbuffered, so each call is one fwrite or printf: a library's line arrives
// whole.
ssize_t writeFiltered(void*, const char* buffer, std::size_t size) {
    std::string_view text(buffer, size);
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::size_t next = std::min(end + 1, text.size());
        if (!StderrFilter::isLibraryChatter(text.substr(0, end))) writeAll(text.substr(0, next));
        text.remove_prefix(next);
    }
    return static_cast<ssize_t>(size);
}

}  // namespace

bool StderrFilter::isLibraryChatter(std::string_view line) {
    for (std::string_view chatter : kChatter)
        if (line == chatter) return true;
    return false;
}

void StderrFilter::install() {
    static bool installed = false;
    if (installed) return;
    cookie_io_functions_t io{};
    io.write = &writeFiltered;
    FILE* filtered = fopencookie(nullptr, "w", io);
    if (!filtered) return;  // the libraries' lines stay; nothing else changes
    std::setvbuf(filtered, nullptr, _IONBF, 0);
    std::fflush(stderr);
    // The C library lets a program point stderr elsewhere; every library's fprintf(stderr)
    // then goes through the filter, while writes to descriptor 2 are untouched.
    stderr = filtered;
    installed = true;
}
