#include "support/sink_recorder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "support/test_server.h"

extern char** environ;

bool SinkRecorder::available() {
    return std::getenv("PULSE_SERVER") != nullptr;
}

int SinkRecorder::defaultLatencyMs() {
    return testServerIsPipeWire() ? 40 : 10;
}

SinkRecorder::SinkRecorder(const std::string& source, int latencyMs, int rate) : rate(rate) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const std::string device = "--device=" + source;
    const std::string latency = "--latency-msec=" + std::to_string(latencyMs);
    const std::string rateArgument = "--rate=" + std::to_string(rate);
    const char* argv[] = {
        "parec",        device.c_str(), "--format=float32le", rateArgument.c_str(),
        "--channels=2", "--raw",        latency.c_str(),      nullptr};
    const int rc =
        posix_spawnp(&child, "parec", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error("cannot start parec");
    }
    pipeFd = fds[0];
    reader = std::thread(&SinkRecorder::readLoop, this);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (frames() == 0) {
        if (Clock::now() > deadline) {
            stop();
            throw std::runtime_error("parec records nothing from " + source);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

SinkRecorder::~SinkRecorder() {
    stop();
}

void SinkRecorder::readLoop() {
    std::vector<char> buffer(8192);
    std::size_t carry = 0;  // bytes of an incomplete sample
    for (;;) {
        const ssize_t n = ::read(pipeFd, buffer.data() + carry, buffer.size() - carry);
        const Clock::time_point now = Clock::now();
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const std::size_t total = carry + static_cast<std::size_t>(n);
        const std::size_t whole = total / sizeof(float);
        {
            std::lock_guard lock(mutex);
            const std::size_t old = recorded.size();
            recorded.resize(old + whole);
            std::memcpy(recorded.data() + old, buffer.data(), whole * sizeof(float));
            arrivals.emplace_back(recorded.size() / kChannels, now);
        }
        carry = total - whole * sizeof(float);
        std::memmove(buffer.data(), buffer.data() + whole * sizeof(float), carry);
    }
}

std::size_t SinkRecorder::frames() const {
    std::lock_guard lock(mutex);
    return recorded.size() / kChannels;
}

std::vector<float> SinkRecorder::samples() const {
    std::lock_guard lock(mutex);
    return recorded;
}

std::vector<float> SinkRecorder::stop() {
    if (!stopped) {
        stopped = true;
        if (child > 0) {
            ::kill(child, SIGTERM);
            int status = 0;
            ::waitpid(child, &status, 0);
        }
        if (reader.joinable()) reader.join();
        if (pipeFd >= 0) ::close(pipeFd);
    }
    std::lock_guard lock(mutex);
    return recorded;
}

SinkRecorder::Clock::time_point SinkRecorder::timeOf(std::size_t index) const {
    std::lock_guard lock(mutex);
    const auto piece =
        std::upper_bound(arrivals.begin(), arrivals.end(), index,
                         [](std::size_t i, const std::pair<std::size_t, Clock::time_point>& a) {
                             return i < a.first;
                         });
    if (piece == arrivals.end()) return Clock::now();
    const auto framesAfter = std::chrono::duration<double>(double(piece->first - 1 - index) / rate);
    return piece->second - std::chrono::duration_cast<Clock::duration>(framesAfter);
}

std::optional<std::size_t> SinkRecorder::firstAbove(std::size_t from, float threshold) const {
    std::lock_guard lock(mutex);
    for (std::size_t i = from * kChannels; i < recorded.size(); ++i)
        if (std::fabs(recorded[i]) >= threshold) return i / kChannels;
    return std::nullopt;
}

std::optional<std::size_t> SinkRecorder::firstQuiet(std::size_t from, float threshold,
                                                    std::size_t span) const {
    std::lock_guard lock(mutex);
    std::size_t quietSince = from;
    for (std::size_t frame = from; frame * kChannels + 1 < recorded.size(); ++frame) {
        if (std::fabs(recorded[frame * kChannels]) >= threshold ||
            std::fabs(recorded[frame * kChannels + 1]) >= threshold)
            quietSince = frame + 1;
        else if (frame + 1 - quietSince >= span)
            return quietSince;
    }
    return std::nullopt;
}
