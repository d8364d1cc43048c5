#include "support/own_pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace {

bool accepts(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

OwnPulseServer::OwnPulseServer(std::string dir) : dir(std::move(dir)) {
    socket = this->dir + "/pulse/native";
}

OwnPulseServer::~OwnPulseServer() {
    kill();
}

bool OwnPulseServer::start() {
    if (pid > 0) return true;
    ::unlink(socket.c_str());
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir, "HOME=" + dir};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0 && entry.rfind("HOME=", 0) != 0 &&
            entry.rfind("PULSE_SERVER=", 0) != 0)
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    const char* argv[] = {"pulseaudio",
                          "-n",
                          "--daemonize=no",
                          "--exit-idle-time=-1",
                          "--use-pid-file=no",
                          "-L",
                          "module-null-sink sink_name=velmor_null rate=48000",
                          "-L",
                          "module-native-protocol-unix",
                          nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid, "pulseaudio", &actions, nullptr, const_cast<char**>(argv),
                     envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepts(socket)) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void OwnPulseServer::kill() {
    if (pid <= 0) return;
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

void OwnPulseServer::freeze() {
    if (pid > 0) ::kill(pid, SIGSTOP);
}

void OwnPulseServer::thaw() {
    if (pid > 0) ::kill(pid, SIGCONT);
}
